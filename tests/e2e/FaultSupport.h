#pragma once

// What the fault tests (and the soak program) share: a console on the real serial service whose
// every hand-over is seen through an ObservedPort, and the process figures they check: open
// descriptors, lock files, resident memory, processor time.

#include "console/Form1.h"
#include "console/port/DeviceResolution.h"
#include "protocol/TraceRendering.h"
#include "record/ObservedPort.h"
#include "serial/QtSerialPort.h"
#include "support/EventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <functional>
#include <memory>
#include <unistd.h>

namespace qx200::testing {

// A started console on the real service of the device at `device` (named by QX200_COM1),
// message boxes recorded.
class FaultConsole {
public:
    explicit FaultConsole(const QString& device)
    {
        qputenv("QX200_COM1", QFile::encodeName(device));
        form = std::make_unique<Form1>(recorder);
        form->messageBox = [this](const QString& text) { messages << text; };
        form->endProgram = [] {};
        form->dispatch([this] { form->Form_Load(); });
    }
    ~FaultConsole()
    {
        form.reset();
        qunsetenv("QX200_COM1");
    }
    FaultConsole(const FaultConsole&) = delete;
    FaultConsole& operator=(const FaultConsole&) = delete;

    QPushButton* button(const char* name) const
    {
        return form->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }

    // Runs a handler after the console's own receive handler for every arrival.
    void afterEachArrival(std::function<void()> observer)
    {
        auto own = recorder.OnComm;
        recorder.OnComm = [own, observer] {
            own();
            observer();
        };
    }

    // The full service panel (key chord, then a double-click on the logo), where the traces,
    // every status button and the free-command line are in sight.
    void openServicePanel() const
    {
        form->Text1->setFocus();
        QTest::keyClick(form->Text1, Qt::Key_K, Qt::ControlModifier);
        QTest::mouseDClick(form->Image1, Qt::LeftButton);
    }

    QtSerialPort port{devicePathFor};
    ObservedPort recorder{port};
    std::unique_ptr<Form1> form;
    QStringList messages;
};

// The received bytes the console holds in its state, however the state keeps them.
inline const QByteArray& collectedBytes(const QByteArray& collection)
{
    return collection;
}
inline const QByteArray& collectedBytes(const RenderedText& collection)
{
    return collection.bytes();
}

inline int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

// Lock files in the usual lock folders that name the process, as the serial library and other
// serial programs leave them ("LCK..ttyS0", "LCK..pts_3").
inline QStringList lockFilesNaming(qint64 pid)
{
    const QByteArray self = QByteArray::number(pid);
    QSet<QString> seen;
    QStringList found;
    for (const QString& dir : {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"),
                               QStringLiteral("/tmp"), QDir::tempPath()}) {
        const QString real = QDir(dir).canonicalPath();
        if (real.isEmpty() || seen.contains(real))
            continue;
        seen.insert(real);
        for (const QString& name :
             QDir(real).entryList({QStringLiteral("LCK..*")}, QDir::Files | QDir::System)) {
            QFile lock(real + QLatin1Char('/') + name);
            if (lock.open(QIODevice::ReadOnly) && lock.readLine().trimmed() == self)
                found << lock.fileName();
        }
    }
    return found;
}

inline QStringList ownLockFiles()
{
    return lockFilesNaming(qint64(::getpid()));
}

// Under the address sanitizer freed blocks are held back for a while (its quarantine), so the
// resident memory then says nothing about the program's own.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool ResidentMemoryTellsLeaks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool ResidentMemoryTellsLeaks = false;
#else
inline constexpr bool ResidentMemoryTellsLeaks = true;
#endif
#else
inline constexpr bool ResidentMemoryTellsLeaks = true;
#endif

// Resident memory of this process in KiB.
inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The longest the event loop went without serving a 10 ms timer, while it is being measured.
class LoopLatency {
public:
    LoopLatency()
    {
        timer_.setInterval(10);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { worstMs_ = std::max(worstMs_, clock_.restart()); });
        clock_.start();
        timer_.start();
    }
    qint64 worstMs() const { return worstMs_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 worstMs_ = 0;
};

} // namespace qx200::testing
