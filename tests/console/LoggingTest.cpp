#include "support/FormFixture.h"

#include <QLoggingCategory>
#include <QStringList>
#include <functional>
#include <ostream>

namespace qx200::testing {
namespace {

// Every message logged while it lives, as "category: text".
class LogCapture {
public:
    LogCapture() : previous_(qInstallMessageHandler(&LogCapture::record)) { lines().clear(); }
    ~LogCapture() { qInstallMessageHandler(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static QStringList& lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    static void record(QtMsgType, const QMessageLogContext& context, const QString& text)
    {
        lines() << QString::fromLatin1(context.category) + QStringLiteral(": ") + text;
    }
    QtMessageHandler previous_;
};

// A failure the console gets over by itself, the category it is traced in and the trace's text.
struct Swallowed {
    const char* name;
    std::function<void(FakeSerialPort&)> arrange;
    const char* button; // clicked to meet the failure
    QString category;
    QString text;
};
void PrintTo(const Swallowed& value, std::ostream* os)
{
    *os << value.name;
}

const Swallowed SwallowedFailures[] = {
    {"HandlerEndedByAFailedWrite",
     [](FakeSerialPort& p) { p.failNext(FakeSerialPort::Op::Output, "COM1 (fake1): I/O error"); },
     "Command17", "qx200.serial", "COM1 (fake1): I/O error"},
    {"LineOnAClosedPort", [](FakeSerialPort& p) { p.open = false; }, "Command17", "qx200.link",
     "line not sent"},
    {"EndWithAPortThatFailsToClose",
     [](FakeSerialPort& p) { p.failNext(FakeSerialPort::Op::Close, "COM1 (fake1): I/O error"); },
     "Command16", "qx200.panel", "COM1 (fake1): I/O error"},
};

class FailureTrace : public FormFixture, public ::testing::WithParamInterface<Swallowed> {
protected:
    void TearDown() override { QLoggingCategory::setFilterRules({}); }

    // The captured lines of the case's category that mention its text.
    QStringList tracesOf(const Swallowed& failure) const
    {
        QStringList found;
        for (const QString& line : LogCapture::lines()) {
            if (line.startsWith(failure.category + ':') && line.contains(failure.text))
                found << line;
        }
        return found;
    }
};

TEST_P(FailureTrace, IsLoggedAtDebugLevelWhenTurnedOn)
{
    const Swallowed& failure = GetParam();
    QLoggingCategory::setFilterRules(QStringLiteral("qx200.*.debug=true"));
    LogCapture capture;
    failure.arrange(port);
    click(failure.button);
    EXPECT_EQ(tracesOf(failure).size(), 1) << qPrintable(LogCapture::lines().join('\n'));
}

TEST_P(FailureTrace, IsSilentByDefault)
{
    const Swallowed& failure = GetParam();
    LogCapture capture;
    failure.arrange(port);
    click(failure.button);
    EXPECT_TRUE(tracesOf(failure).isEmpty()) << qPrintable(LogCapture::lines().join('\n'));
}

INSTANTIATE_TEST_SUITE_P(Failures, FailureTrace, ::testing::ValuesIn(SwallowedFailures),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace qx200::testing
