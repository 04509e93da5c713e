#include "service/LineRecorder.h"

#include "protocol/ProjectorCommands.h"
#include "serial/ServicePaths.h"

#include <QDir>
#include <array>
#include <cstdio>
#include <utility>

namespace qx200 {

namespace {

// What each state-changing command does, in the words of the log.
const std::array<std::pair<QByteArray, const char*>, 10>& commandTexts()
{
    static const std::array<std::pair<QByteArray, const char*>, 10> texts{{
        {powerCommand(true), "power on"},
        {powerCommand(false), "power off"},
        {inputCommand(InputSource::Computer1), "input pc1"},
        {inputCommand(InputSource::Computer2), "input pc2"},
        {inputCommand(InputSource::Video), "input video"},
        {inputCommand(InputSource::Input4), "input hdmi"},
        {muteCommand(MuteTarget::Video, true), "video mute on"},
        {muteCommand(MuteTarget::Video, false), "video mute off"},
        {muteCommand(MuteTarget::Audio, true), "audio mute on"},
        {muteCommand(MuteTarget::Audio, false), "audio mute off"},
    }};
    return texts;
}

QString withoutControls(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x") +
                   QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

} // namespace

QString serviceRecordsFolder()
{
    const QString state = serviceStateDirectory();
    return state.isEmpty() ? QString() : QDir(state).filePath(QStringLiteral("records"));
}

QString recordFolderName(const QString& projector)
{
    if (projector.isEmpty())
        return QStringLiteral("%"); // no encoded name is a lone "%"
    QByteArray encoded = projector.toUtf8().toPercentEncoding();
    if (encoded.startsWith('.'))
        encoded.replace(0, 1, "%2E");
    return QString::fromLatin1(encoded);
}

LineRecorder::LineRecorder(Line& line, const QString& folder, qint64 bound)
    : record_(record::SessionRecord::DailyFiles{
          QDir(folder).filePath(recordFolderName(line.config().name)), bound}),
      com_(line.config().name), device_(line.config().device)
{
    using record::Event;
    // Bytes written while the device is away never reach the projector.
    connect(&line, &Line::written, this,
            [this, &line](const QByteArray& bytes, const Origin& origin) {
                record_.add(line.ready() ? Event::Sent : Event::Unsent, com_, device_, bytes,
                            origin.who);
            });
    connect(&line, &Line::received, this, [this](const QByteArray& bytes) {
        record_.add(Event::Received, com_, device_, bytes, {});
    });
    connect(&line, &Line::lost, this, [this](const QString& text) {
        record_.add(Event::Lost, com_, device_, text.toUtf8(), {});
    });
    connect(&line, &Line::back, this, [this] { record_.add(Event::Back, com_, device_, {}, {}); });
}

std::optional<QString> commandLogLine(const QString& projector, QByteArrayView line,
                                      const Origin& origin)
{
    while (line.endsWith('\r') || line.endsWith('\n'))
        line.chop(1);
    if (origin.priority != Priority::Controller || commandKind(line) == CommandKind::Other)
        return std::nullopt;
    QString what = QString::fromLatin1(line);
    for (const auto& [code, text] : commandTexts())
        if (line == code)
            what = QLatin1String(text);
    return QStringLiteral("%1: %2 by %3")
        .arg(withoutControls(projector), what, withoutControls(origin.who));
}

void logCommands(Line& line)
{
    QObject::connect(&line, &Line::written, &line,
                     [&line](const QByteArray& bytes, const Origin& origin) {
                         if (const auto text = commandLogLine(line.config().name, bytes, origin)) {
                             std::fputs(qPrintable(*text + QLatin1Char('\n')), stderr);
                             std::fflush(stderr);
                         }
                     });
}

} // namespace qx200
