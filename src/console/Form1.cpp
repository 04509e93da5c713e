#include "console/Form1.h"

#include "console/panel/Appearance.h"
#include "console/panel/Layout.h"
#include "console/panel/MouseHook.h"
#include "console/panel/PanelButton.h"
#include "console/panel/PanelLabel.h"
#include "protocol/TraceRendering.h"
#include "serial/PreciseWake.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace qx200 {
namespace {

int pixels(double twips)
{
    return qRound(twips / layout::TwipsPerPixel);
}

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QColor colour(std::uint32_t rgb)
{
    return QColor::fromRgb(QRgb(rgb));
}

void paint(QWidget* widget, const layout::Control& row)
{
    QPalette palette = widget->palette();
    if (row.background) {
        const QColor fill = colour(*row.background);
        palette.setColor(QPalette::Window, fill);
        palette.setColor(QPalette::Button, fill);
        widget->setAutoFillBackground(true);
    }
    palette.setColor(QPalette::WindowText, colour(row.foreground));
    palette.setColor(QPalette::ButtonText, colour(row.foreground));
    widget->setPalette(palette);
}

QWidget* makeLabel(const layout::Control& row, QWidget* parent)
{
    auto* label = new PanelLabel(toQString(row.caption), parent);
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (row.flags & layout::Centred)
        horizontal = Qt::AlignHCenter;
    else if (row.flags & layout::RightAligned)
        horizontal = Qt::AlignRight;
    label->setAlignment(horizontal | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    if (row.flags & layout::Border) {
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
        label->setLineWidth(1);
        label->setAlignment(horizontal | Qt::AlignVCenter);
    }
    return label;
}

QWidget* makeWidget(const layout::Control& row, QWidget* parent)
{
    switch (row.kind) {
    case layout::Kind::Button:
        return new PanelButton(toQString(row.caption), parent);
    case layout::Kind::Label:
        return makeLabel(row, parent);
    case layout::Kind::Frame: {
        auto* frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        return frame;
    }
    case layout::Kind::Option: {
        auto* option = new QRadioButton(toQString(row.caption), parent);
        option->setChecked(row.flags & layout::Selected);
        return option;
    }
    case layout::Kind::TextBox: {
        auto* box = new QLineEdit(parent);
        box->setMaxLength(int(MaxRenderedBytes)); // a longer paste is cut there
        return box;
    }
    case layout::Kind::Image: {
        auto* image = new QLabel(parent);
        image->setPixmap(logoPixmap());
        return image;
    }
    }
    return nullptr;
}

} // namespace

template <class T> T* Form1::control(std::string_view name) const
{
    return findChild<T*>(toQString(name));
}

Form1::Form1(SerialPort& comm, QWidget* parent) : QWidget(parent), comm_(comm)
{
    setObjectName("Form1");
    setWindowTitle(toQString(layout::WindowCaption));
    setWindowIcon(windowIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colour(layout::WindowBackground));
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(fontFor(layout::WindowFont));

    messageBox = [this](const QString& text) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText); // device names and servers' words are not markup
        box.exec();
    };
    describePort = [this](std::int16_t port) {
        return port == comm_.CommPort() ? QStringLiteral("COM%1 = %2").arg(port).arg(comm_.Device())
                                        : QStringLiteral("COM%1").arg(port);
    };
    endProgram = [] { QCoreApplication::exit(0); };
    screenSizeTwips = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize size = screen ? screen->geometry().size() : QSize();
        return size * layout::TwipsPerPixel;
    };

    buildPanel();
    connectHandlers();
    // The window is created at the full panel's height; start-up shrinks it.
    setOuterHeight(layout::FullClientHeight + layout::TitleAndBorders);
    qApp->installEventFilter(this); // keyboard preview
}

Form1::~Form1()
{
    comm_.OnComm = nullptr;
    comm_.OnFault = nullptr;
    comm_.OnRecover = nullptr;
    comm_.OnNote = nullptr;
}

void Form1::buildPanel()
{
    std::vector<std::pair<int, QWidget*>> tabOrder;
    for (const layout::Control& row : layout::controls()) {
        QWidget* parent = row.container.empty() ? this : control(row.container);
        QWidget* widget = makeWidget(row, parent);
        widget->setObjectName(toQString(row.name));
        widget->setGeometry(pixels(row.left), pixels(row.top), pixels(row.width),
                            pixels(row.height));
        widget->setFont(fontFor(row.font));
        paint(widget, row);
        widget->setVisible(!(row.flags & layout::Hidden));
        if (widget->focusPolicy() != Qt::NoFocus)
            tabOrder.emplace_back(row.tab, widget);
    }
    std::ranges::sort(tabOrder, {}, &std::pair<int, QWidget*>::first);
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);

    for (const layout::Timer& row : layout::timers()) {
        auto* timer = new QTimer(this);
        timer->setObjectName(toQString(row.name));
        timer->setInterval(row.interval);
        timer->setTimerType(Qt::PreciseTimer);
        if (row.runs)
            new PreciseWake(*timer);
    }

    Label11 = findChild<QLabel*>("Label11");
    Label12 = findChild<QLabel*>("Label12");
    Label22 = findChild<QLabel*>("Label22");
    Frame8 = findChild<QFrame*>("Frame8");
    Command34 = findChild<QPushButton*>("Command34");
    Text1 = findChild<QLineEdit*>("Text1");
    Option1 = findChild<QRadioButton*>("Option1");
    Option2 = findChild<QRadioButton*>("Option2");
    Option9 = findChild<QRadioButton*>("Option9");
    Option10 = findChild<QRadioButton*>("Option10");
    Image1 = findChild<QLabel*>("Image1");
    Timer1 = findChild<QTimer*>("Timer1");
    Timer2 = findChild<QTimer*>("Timer2");
    Timer3 = findChild<QTimer*>("Timer3");
    Timer4 = findChild<QTimer*>("Timer4");
    Timer5 = findChild<QTimer*>("Timer5");

    if (auto* first = tabOrder.empty() ? nullptr : tabOrder.front().second)
        first->setFocus();
}

void Form1::connectHandlers()
{
    for (const buttons::OneShot& button : buttons::oneShots()) {
        connect(control<QPushButton>(button.control), &QPushButton::clicked, this,
                [this, &button] { dispatch([&] { oneShotClick(button); }); });
    }
    for (const buttons::Hold& button : buttons::holds()) {
        auto* hook = new MouseHook(control(button.control));
        hook->press = [this, &button] { dispatch([&] { holdPress(button); }); };
        hook->release = [this, &button] { dispatch([&] { holdRelease(button); }); };
    }
    auto* logo = new MouseHook(Image1);
    logo->doubleClick = [this] { dispatch([this] { Image1_DblClick(); }); };

    using Handler = void (Form1::*)();
    const std::pair<QPushButton*, Handler> clicks[] = {
        {Command34, &Form1::Command34_Click},
        {findChild<QPushButton*>("Command95"), &Form1::Command95_Click},
        {findChild<QPushButton*>("Command96"), &Form1::Command96_Click},
        {findChild<QPushButton*>("Command16"), &Form1::Command16_Click},
    };
    for (const auto& [button, handler] : clicks)
        connect(button, &QPushButton::clicked, this,
                [this, run = handler] { dispatch([&] { (this->*run)(); }); });

    // An option's handler runs when it becomes selected, by a click, a key or in code.
    const std::pair<QRadioButton*, Handler> options[] = {
        {Option1, &Form1::Option1_Click},
        {Option2, &Form1::Option2_Click},
        {Option9, &Form1::Option9_Click},
        {Option10, &Form1::Option10_Click},
    };
    for (const auto& [option, handler] : options) {
        connect(option, &QRadioButton::toggled, this, [this, run = handler](bool selected) {
            if (selected)
                dispatch([&] { (this->*run)(); });
        });
    }

    const std::pair<QTimer*, Handler> ticks[] = {
        {Timer1, &Form1::Timer1_Timer},
        {Timer2, &Form1::Timer2_Timer},
        {Timer3, &Form1::Timer3_Timer},
        {Timer4, &Form1::Timer4_Timer},
    };
    for (const auto& [timer, handler] : ticks)
        connect(timer, &QTimer::timeout, this,
                [this, run = handler] { dispatch([&] { (this->*run)(); }); });

    comm_.OnComm = [this] { dispatch([this] { MSComm1_OnComm(); }); };
    comm_.OnFault = [this](const QString& text) { showFaultNotice(text); };
    comm_.OnRecover = [this] { closeFaultNotice(); };
    comm_.OnNote = [this](const QString& text) { notice_.tell(ConsoleNotice::Topic::Line, text); };
}

void Form1::setOuterHeight(float twips)
{
    outerHeight_ = twips;
    setFixedSize(pixels(layout::ClientWidth), pixels(twips - layout::TitleAndBorders));
}

void Form1::enableTimer(QTimer* timer, bool enabled)
{
    if (!enabled)
        timer->stop();
    else if (!timer->isActive()) // a running timer keeps its countdown
        timer->start();
}

// A modal box, never opened under the notice nor with the notice opening under it.
void Form1::warn(const QString& text)
{
    notice_.holdDuring([&] { messageBox(text); });
}

void Form1::showFaultNotice(const QString& text)
{
    deviceAway_ = true;
    notice_.tell(ConsoleNotice::Topic::Device,
                 text + QStringLiteral("\n\nThe console reconnects by itself when the device is "
                                       "back, and this message then goes away."));
}

void Form1::closeFaultNotice()
{
    deviceAway_ = false;
    notice_.clear(ConsoleNotice::Topic::Device);
}

void Form1::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(colour(layout::LineColour), layout::LinePixels));
    for (const layout::Line& line : layout::lines())
        painter.drawLine(pixels(line.x1), pixels(line.y1), pixels(line.x2), pixels(line.y2));
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    // Keyboard preview: the window sees every key press meant for one of its controls before
    // that control does, and passes it on unchanged, except the service panel's chord.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        const bool firstReceiver = focusWidget() ? widget == focusWidget() : widget == this;
        if (widget->window() == this && firstReceiver) {
            const auto* key = static_cast<const QKeyEvent*>(event);
            const int code = key->key() >= 0x20 && key->key() <= 0x7E ? key->key() : 0;
            const Qt::KeyboardModifiers modifiers = key->modifiers();
            const std::int16_t shift = std::int16_t((modifiers & Qt::ShiftModifier ? 1 : 0) |
                                                    (modifiers & Qt::ControlModifier ? 2 : 0) |
                                                    (modifiers & Qt::AltModifier ? 4 : 0));
            dispatch([&] { Form_KeyDown(std::int16_t(code), shift); });
            if (isServiceChord(std::int16_t(code), shift))
                return true; // the chord is the window's: the entry box must not edit with it
        }
    }
    if (event->type() == QEvent::ToolTip)
        refreshToolTip(watched); // shown with what is true now
    return QWidget::eventFilter(watched, event);
}

} // namespace qx200
