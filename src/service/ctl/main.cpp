// qx200ctl: asks the projector service, over its control socket, for the projectors' state or to
// send them commands. One request, one answer.

#include "serial/ServicePaths.h"
#include "service/ControlProtocol.h"
#include "service/ctl/CtlOptions.h"
#include "service/ctl/CtlOutput.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <cstdio>

namespace {

using namespace qx200;

// How long the service may take: a command waits behind the exchange on the line, a console
// holding the line holds it up.
constexpr int ConnectMs = 5000;
constexpr int AnswerMs = 60000;
// An answer longer than this is not one.
constexpr qint64 MaxAnswerBytes = 16 * 1024 * 1024;

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int fail(const QString& text)
{
    print(stderr, QStringLiteral("qx200ctl: %1\n").arg(text));
    return CtlFailed;
}

// The service's answer line, without its newline; nothing (and the reason) when none came.
std::optional<QByteArray> ask(const QString& path, const ControlRequest& request, QString* error)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(ConnectMs)) {
        *error = QStringLiteral("cannot reach qx200d on %1: %2 (is it running?)")
                     .arg(path, socket.errorString());
        return std::nullopt;
    }
    socket.write(encodeRequest(request));
    const QDeadlineTimer deadline(AnswerMs);
    QByteArray received;
    while (!received.contains('\n')) {
        if (socket.bytesAvailable() == 0 &&
            !socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) {
            if (socket.state() != QLocalSocket::ConnectedState)
                *error = QStringLiteral("qx200d closed the connection without an answer");
            else if (deadline.hasExpired())
                *error = QStringLiteral("no answer from qx200d within %1 s").arg(AnswerMs / 1000);
            else
                continue;
            return std::nullopt;
        }
        received += socket.readAll();
        if (received.size() > MaxAnswerBytes) {
            *error = QStringLiteral("qx200d's answer is too long");
            return std::nullopt;
        }
    }
    return received.left(received.indexOf('\n'));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx200ctl"));
    const ParsedCtlOptions parsed = parseCtlOptions(app.arguments().mid(1));
    if (const auto code = exitWithoutService(parsed)) {
        if (!parsed.options)
            print(stderr, QStringLiteral("qx200ctl: %1\n%2").arg(parsed.error, ctlUsage()));
        else if (parsed.options->mode == CtlOptions::Mode::Help)
            print(stdout, ctlUsage());
        else
            print(stdout, QStringLiteral("qx200ctl %1\n").arg(QX200_VERSION));
        return *code;
    }
    const CtlOptions& options = *parsed.options;

    QString path = options.socket;
    if (path.isEmpty()) {
        const QStringList folders = serviceRuntimeCandidates();
        const auto found = locateControlSocket(folders);
        if (!found)
            return fail(QStringLiteral("no %1 in %2; qx200d may not be running (or use --socket)")
                            .arg(QLatin1String(ControlSocketName), folders.join(", ")));
        path = *found;
    }
    QString error;
    const auto line = ask(path, options.request, &error);
    if (!line)
        return fail(error);
    const DecodedAnswer answer = decodeAnswer(*line);
    if (!answer.answer)
        return fail(answer.error);
    const CtlOutput output = formatAnswer(options.request, *answer.answer, options.json);
    print(stdout, output.out);
    print(stderr, output.err);
    return output.exitCode;
}
