#pragma once

#include "serial/SerialPort.h"

#include <QByteArrayList>
#include <QString>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace qx200::testing {

// A serial service that records what the console does with it, hands over chosen input, and
// fails chosen operations with a chosen text.
class FakeSerialPort final : public SerialPort {
public:
    enum class Op { CommPort, Settings, Open, Close, Output };

    void CommPort(std::int16_t port) override
    {
        check(Op::CommPort);
        commPort = port;
        portsSet.push_back(port);
    }
    std::int16_t CommPort() const override { return commPort; }
    void Settings(const QByteArray& text) override
    {
        check(Op::Settings);
        settings = text;
    }
    bool PortOpen() const override { return open; }
    void PortOpen(bool wanted) override
    {
        if (wanted) {
            check(Op::Open);
            if (const auto it = missingPorts.find(commPort); it != missingPorts.end())
                throw PortError(it->second);
            ++openings;
            openedWith.push_back({commPort, settings});
        } else {
            check(Op::Close);
            ++closings;
        }
        open = wanted;
    }
    void Output(const QByteArray& bytes) override
    {
        check(Op::Output);
        writes.append(bytes);
        written += bytes;
    }
    QByteArray Input() override { return std::exchange(pending, {}); }
    std::int16_t CommEvent() const override { return event; }
    QString Device() const override { return QStringLiteral("fake%1").arg(commPort); }
    bool DeviceReady() const override { return open && reachable; }

    // Bytes arrive from the line: queued and announced like the real service does.
    void receive(const QByteArray& bytes)
    {
        pending += bytes;
        raise(ReceiveEvent);
    }
    void raise(std::int16_t code)
    {
        event = code;
        if (OnComm)
            OnComm();
    }
    // The next call of the operation fails with the text.
    void failNext(Op op, const QString& text) { failures[op] = text; }

    std::int16_t commPort = 0;
    std::vector<std::int16_t> portsSet; // every port number set, in order
    QByteArray settings;
    bool open = false;
    bool reachable = true; // false: an open network device still connecting, or away
    int openings = 0;
    int closings = 0;
    struct Opening {
        std::int16_t port;
        QByteArray settings;
    };
    std::vector<Opening> openedWith;
    QByteArrayList writes;
    QByteArray written;
    QByteArray pending;
    std::int16_t event = 0;
    std::map<std::int16_t, QString> missingPorts; // opening these ports fails with the text

private:
    void check(Op op)
    {
        if (const auto it = failures.find(op); it != failures.end()) {
            const QString text = it->second;
            failures.erase(it);
            throw PortError(text);
        }
    }
    std::map<Op, QString> failures;
};

} // namespace qx200::testing
