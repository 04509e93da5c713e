#pragma once

// A projector's line on a pseudo-terminal whose far end the test plays: it hears every line the
// line object writes and says what the projector answers.

#include "service/Line.h"
#include "support/EventLoop.h"
#include "support/PseudoTerminal.h"

#include <chrono>

namespace qx200::testing {

// No pause between exchanges, so that a test never waits for one; the other times as shipped.
inline constexpr LineTiming QuickLine{std::chrono::milliseconds(1000), std::chrono::milliseconds(0),
                                      std::chrono::milliseconds(2000)};

class PlayedLine {
public:
    explicit PlayedLine(qint32 speed = 19200,
                        std::chrono::milliseconds interval = std::chrono::seconds(10),
                        LineTiming timing = QuickLine)
        : line(ProjectorConfig{QStringLiteral("hall-a"), pty.link(), speed, interval, {}, {}},
               timing)
    {
        QObject::connect(&line, &Line::received,
                         [this](const QByteArray& bytes) { taken_ += bytes.size(); });
    }

    // The next line the projector receives, its carriage return included; empty when none comes
    // in time.
    QByteArray heard(int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!pending_.contains('\r') && !deadline.hasExpired())
            pending_ += pty.read(1, int(std::max<qint64>(deadline.remainingTime(), 1)));
        const qsizetype end = pending_.indexOf('\r');
        if (end < 0)
            return {};
        const QByteArray received = pending_.first(end + 1);
        pending_.remove(0, end + 1);
        return received;
    }

    // Says the bytes, and waits until the line has taken them.
    void say(const QByteArray& bytes)
    {
        const qint64 until = taken_ + bytes.size();
        pty.write(bytes);
        waitUntil([this, until] { return taken_ >= until; }, 2000);
    }

    PseudoTerminal pty;
    Line line;

private:
    QByteArray pending_;
    qint64 taken_ = 0;
};

} // namespace qx200::testing
