// Renders the console at each of its four window heights into PNG files, offscreen, and the
// "COM" button's tooltip over the normal panel:
//   qx200-screenshots OUTPUT_DIR
// The data view also shows a decoded status reply, as an operator would see it after "STATUS".

#include "console/Form1.h"
#include "console/panel/Appearance.h"
#include "console/panel/Layout.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QPainter>
#include <QPushButton>
#include <QTextStream>
#include <cstdio>
#include <functional>

namespace {

// A port that is always there and answers "STATUS" with "00": enough to show every area.
class DemoPort final : public qx200::SerialPort {
public:
    void CommPort(std::int16_t port) override { port_ = port; }
    std::int16_t CommPort() const override { return port_; }
    void Settings(const QByteArray&) override {}
    bool PortOpen() const override { return open_; }
    void PortOpen(bool open) override { open_ = open; }
    void Output(const QByteArray& bytes) override { reply_ = bytes == "CR0\r" ? "00\r" : ""; }
    QByteArray Input() override { return std::exchange(reply_, {}); }
    std::int16_t CommEvent() const override { return ReceiveEvent; }
    QString Device() const override { return QStringLiteral("demo"); }
    void answer()
    {
        if (!reply_.isEmpty() && OnComm)
            OnComm();
    }

private:
    std::int16_t port_ = 1;
    bool open_ = false;
    QByteArray reply_;
};

struct Shot {
    int height;
    std::function<void(qx200::Form1&, DemoPort&)> reach;
};

// The normal panel with the pointer resting on "COM": its tooltip names each port's device and
// how it is doing, drawn where it shows over the window.
bool saveToolTipShot(const QString& outputDir)
{
    DemoPort port;
    qx200::Form1 form(port);
    form.describePort = [](std::int16_t n) {
        return n == 1 ? QStringLiteral("COM1 = tcp:10.0.0.7:4001 (from --com1)")
                      : QStringLiteral("COM2 = /dev/ttyS1 (the default)");
    };
    form.Form_Load();
    form.show();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 300) // the window settles (activation hides tips)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    QWidget* com = form.findChild<QPushButton*>(QStringLiteral("Command33"));
    const QPoint at(com->width() / 2, com->height() / 2);
    QHelpEvent hover(QEvent::ToolTip, at, com->mapToGlobal(at));
    QApplication::sendEvent(com, &hover);
    // The tip may fade in.
    QWidget* tip = nullptr;
    waited.restart();
    while (!tip && waited.elapsed() < 2000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->inherits("QTipLabel") && window->isVisible())
                tip = window;
        }
    }
    if (!tip) {
        std::fprintf(stderr, "the \"COM\" button showed no tooltip\n");
        return false;
    }
    // The tip hangs below the window's edge, as on a desktop.
    const QRect tipArea(form.mapFromGlobal(tip->pos()), tip->size());
    QPixmap picture(form.rect().united(tipArea).size());
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(0, 0, form.grab());
    painter.drawPixmap(tipArea.topLeft(), tip->grab());
    painter.end();
    const QString file = outputDir + QStringLiteral("/tooltip-com.png");
    if (!picture.save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    qx200::registerFontSubstitutions();
    const QString outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(outputDir);

    namespace layout = qx200::layout;
    const Shot shots[] = {
        {layout::NormalPanel,
         [](qx200::Form1& form, DemoPort&) { form.findChild<QPushButton*>("Command33")->click(); }},
        {layout::DataView,
         [](qx200::Form1& form, DemoPort& port) {
             // Service panel, "CLOSE", then the data toggle: the way Command34 comes into sight.
             form.Form_KeyDown(75, 2);
             form.Command34_Click();
             form.Command34_Click();
             form.findChild<QPushButton*>("Command44")->click();
             port.answer();
         }},
        {layout::ServicePanel, [](qx200::Form1& form, DemoPort&) { form.Form_KeyDown(75, 2); }},
        {layout::FullServicePanel,
         [](qx200::Form1& form, DemoPort&) {
             form.Form_KeyDown(75, 2);
             form.Image1_DblClick();
         }},
    };
    for (const Shot& shot : shots) {
        DemoPort port;
        qx200::Form1 form(port);
        form.messageBox = [](const QString& text) { QTextStream(stderr) << text << '\n'; };
        form.Form_Load();
        shot.reach(form, port);
        form.show();
        QApplication::processEvents();
        const QString file = QStringLiteral("%1/tier-%2.png").arg(outputDir).arg(shot.height);
        if (!form.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return saveToolTipShot(outputDir) ? 0 : 1;
}
