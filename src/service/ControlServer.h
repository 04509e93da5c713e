#pragma once

// The service's control socket: a local socket where qx200ctl (and scripts) list the projectors,
// read one's state and send it commands, one JSON request per line (service/ControlProtocol.h).
// Commands go to the projector's line as a controller's, in the name of the peer's user.
//
// Each connection is served one request at a time, in order; a request line longer than
// MaxControlRequestBytes is refused and the connection closed. A client that goes away before
// its answer costs nothing: the commands it asked for still run, the answer is dropped. Every
// refusal is logged on stderr as one line naming the client.

#include "service/Line.h"

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <chrono>
#include <optional>

namespace qx200 {

class Fleet;
struct ControlRequest;

class ControlServer final : public QObject {
    Q_OBJECT

public:
    ControlServer(Fleet& fleet, QString path, QObject* parent = nullptr);
    ~ControlServer() override;

    // Makes the socket's folder if missing, removes a socket left by a service that is gone,
    // listens, and opens the socket to the service's group (mode 0660). Empty on success,
    // otherwise one line saying why; also when another service answers on the path.
    QString listen();
    const QString& path() const { return path_; }

private:
    class Client;

    void accept();
    void pump(Client* client);
    void handle(Client* client, const QByteArray& line);
    void change(Client* client, const ControlRequest& request);
    void refuse(Client* client, const QString& error);
    static void log(const QString& user, const QString& text);

    Fleet& fleet_;
    QString path_;
    QLocalServer server_;
};

// Why a reply to a command line counts as a failure, naming the projector ("hall-1: no reply
// within 1 s"); nothing when the line was answered. A change (power, input, mute) wants the
// projector's acknowledgement and nothing else.
std::optional<QString> replyFailure(const QString& projector, const Reply& reply,
                                    std::chrono::milliseconds replyWindow,
                                    bool wantAcknowledgement);

} // namespace qx200
