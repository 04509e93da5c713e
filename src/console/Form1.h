#pragma once

// The console's one window. It owns the shared console state, the controls that handlers touch,
// the five timers and the serial service, and every event handler, grouped by area. The
// handlers' bodies live in the folder of their area (port/, traffic/, panel/).

#include "console/ConsoleNotice.h"
#include "console/ConsoleState.h"
#include "console/panel/ButtonTables.h"
#include "serial/Logging.h"
#include "serial/SerialPort.h"

#include <QSize>
#include <QWidget>
#include <cstdint>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace qx200 {

class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(SerialPort& comm, QWidget* parent = nullptr);
    ~Form1() override;

    // Runs one event's handler. A failing serial operation ends the handler at that step; the
    // console keeps running.
    template <class Handler> void dispatch(Handler&& handler);

    // Replaceable platform pieces, so tests record instead of blocking or quitting.
    std::function<void(const QString&)> messageBox;    // modal warning with the window's title
    std::function<void()> endProgram;                  // leaves the event loop
    std::function<QSize()> screenSizeTwips;            // the screen the window is centred on
    std::function<void(const QString&)> statusChanged; // told each new text of the status line
    // What a COM number stands for, as the port tooltips show it ("COM1 = /dev/ttyUSB0 (from
    // --com1)"); by default the port's own device name.
    std::function<QString(std::int16_t)> describePort;

    // What the operator is told without being stopped: settings mistakes, the record's failure,
    // a device lost under the open port (its text replaced while the fault lasts, taken back
    // when the device is back).
    ConsoleNotice& notice() { return notice_; }

    ConsoleState& state() { return S; }
    const ConsoleState& state() const { return S; }
    SerialPort& MSComm1() { return comm_; }

    // The window's outer height and position in twips, as the handlers read and set them.
    float outerHeight() const { return outerHeight_; }
    void setOuterHeight(float twips);
    float left() const { return left_; }
    float top() const { return top_; }

    // --- port/: start-up and port selection
    void Form_Load();
    void Option1_Click();
    void Option2_Click();
    void Option9_Click();
    void Option10_Click();

    // --- traffic/: sending, tracing, receiving, decoding
    void Hyouji(const QByteArray& text, std::uint8_t mode);
    void MSComm1_OnComm();

    // --- panel/: command buttons
    void oneShotClick(const buttons::OneShot& button);
    void holdPress(const buttons::Hold& button);
    void holdRelease(const buttons::Hold& button);
    void Timer1_Timer();

    // --- panel/: timers
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();

    // --- panel/: free-form entry, data toggle, exit
    void Command95_Click();
    void Command96_Click();
    void Command34_Click();
    void Command16_Click();

    // --- panel/: hidden service panel
    void Form_KeyDown(std::int16_t keyCode, std::int16_t shift);
    static bool isServiceChord(std::int16_t keyCode, std::int16_t shift);
    void Image1_DblClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPanel();
    void connectHandlers();
    template <class T = QWidget> T* control(std::string_view name) const;

    void send(std::string_view code);
    void showReceived(const QByteArray& trace, qsizetype replyFrom);
    void selectPort(std::int16_t port, std::int16_t otherPort);
    void selectSpeed(QRadioButton* chosen);
    void setServiceTier(float outerHeight);
    void warn(const QString& text);
    void showFaultNotice(const QString& text);
    void closeFaultNotice();
    QString portToolTip(std::int16_t port) const;
    void refreshToolTip(QObject* control);

    static void enableTimer(QTimer* timer, bool enabled);

    ConsoleState S;
    SerialPort& comm_;
    float outerHeight_ = 0;
    float left_ = 0;
    float top_ = 0;
    ConsoleNotice notice_{*this};
    bool deviceAway_ = false; // between a fault of the open device and its return

public:
    // Controls the handlers touch; every other control is reached by its object name.
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label22 = nullptr;
    QFrame* Frame8 = nullptr;
    QPushButton* Command34 = nullptr;
    QLineEdit* Text1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option9 = nullptr;
    QRadioButton* Option10 = nullptr;
    QLabel* Image1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QTimer* Timer3 = nullptr;
    QTimer* Timer4 = nullptr;
    QTimer* Timer5 = nullptr;
};

template <class Handler> void Form1::dispatch(Handler&& handler)
{
    try {
        handler();
    } catch (const PortError& error) {
        // The handler ends at the failing operation; the console goes on.
        qCDebug(logSerial) << "handler ended by a failed serial operation:" << error.text();
    }
}

} // namespace qx200
