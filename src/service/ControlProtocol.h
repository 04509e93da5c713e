#pragma once

// The control socket's messages, shared by qx200d and qx200ctl: one JSON object per line each way,
// each line ended by a newline. Pure functions, no I/O.
//
// Requests:
//   {"command":"list"}
//   {"command":"status","projectors":["hall-1"]}
//   {"command":"power","on":true,"projectors":["hall-1","hall-2"]}
//   {"command":"input","input":"pc1","projectors":["hall-1"]}        pc1, pc2, video, hdmi
//   {"command":"mute","mute":"video","on":true,"projectors":["hall-1"]}  video, audio, all
//   {"command":"send","line":"CR0","projectors":["hall-1"]}
//
// Answers: {"ok":true,...} or {"ok":false,"error":"why",...}.
//   list:   "projectors": [{"name","device","up","power","operator","pjlink"}]; power is left
//           out while the line does not know it, operator is empty while nobody holds the
//           line, pjlink ({"listen","controllers"}) only for a projector with a listener
//   status: "projector": {"name","device","up","power","operator","fault","last_reply",
//           "age_seconds","readings"}; last_reply and age_seconds are left out before the first
//   power, input, mute: "results": [{"projector","ok","error"}], one per projector in order;
//           ok only when every projector took it, error then names the projectors that did not
//   send:   "projector", "reply": the reply's bytes as escapedReply() writes them

#include "protocol/ProjectorCommands.h"
#include "protocol/StatusReading.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace qx200 {

// The socket's file name in the service's run-time folder.
inline constexpr const char* ControlSocketName = "qx200d.sock";
// A request line longer than this is refused and its connection closed.
inline constexpr qsizetype MaxControlRequestBytes = 64 * 1024;
// The longest line `send` writes to a projector.
inline constexpr qsizetype MaxSentLineBytes = 256;

enum class ControlCommand { List, Status, Power, Input, Mute, Send };
enum class MuteChoice { Video, Audio, All };

struct ControlRequest {
    ControlCommand command = ControlCommand::List;
    QStringList projectors;
    bool on = false; // power, mute
    InputSource input = InputSource::Computer1;
    MuteChoice mute = MuteChoice::All;
    QByteArray line; // send: one command line, without its carriage return
    friend bool operator==(const ControlRequest&, const ControlRequest&) = default;
};

struct DecodedRequest {
    std::optional<ControlRequest> request; // nothing when the line is refused
    QString error;                         // why, one line
};

// The request as one line, its newline included.
QByteArray encodeRequest(const ControlRequest& request);
// A request line, without its newline. Checks everything but whether the projectors exist.
DecodedRequest decodeRequest(QByteArrayView line);

// The command lines a request writes to each of its projectors, in order: one, or two for
// "mute all" (video, then audio). None for list and status.
QList<QByteArray> commandLines(const ControlRequest& request);

// The keywords of the command line and the protocol: "pc1", "pc2", "video", "hdmi"; "video",
// "audio", "all"; "list", "status", "power", "input", "mute", "send".
QString inputKeyword(InputSource input);
std::optional<InputSource> inputFromKeyword(const QString& keyword);
QString muteKeyword(MuteChoice mute);
std::optional<MuteChoice> muteFromKeyword(const QString& keyword);
QString commandKeyword(ControlCommand command);
std::optional<ControlCommand> commandFromKeyword(const QString& keyword);

// An answer as one line, its newline included.
QByteArray encodeAnswer(const QJsonObject& answer);
// {"ok":false,"error":error}
QJsonObject failureAnswer(const QString& error);

struct DecodedAnswer {
    std::optional<QJsonObject> answer; // an object with a boolean "ok", and an "error" text
                                       // when that is false
    QString error;
};
DecodedAnswer decodeAnswer(QByteArrayView line);

// A projector's reply as text: printable ASCII as it is, a backslash doubled, CR "\r", LF "\n",
// any other byte "\xNN" (the acknowledgement is "\x06").
QString escapedReply(QByteArrayView bytes);

} // namespace qx200
