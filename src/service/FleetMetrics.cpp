#include "service/FleetMetrics.h"

#include "service/ReadingNames.h"

#include <prometheus/text_serializer.h>

#include <array>
#include <map>
#include <sstream>

namespace qx200 {

namespace {

using prometheus::Labels;

struct GaugeName {
    const char* name;
    const char* help;
    prometheus::MetricType type = prometheus::MetricType::Gauge;
};

constexpr GaugeName Up{"qx200_up", "1 when the projector answered in its last poll round"};
constexpr GaugeName PowerStatus{"qx200_power_status",
                                "0 standby, 1 on, 2 cooling down, 3 count down (warm-up)"};
constexpr GaugeName ErrorStatus{"qx200_error_status",
                                "1 while the projector reports the condition of the component"};
constexpr GaugeName InputInfo{"qx200_input_info", "The selected input, 1 on its label"};
constexpr GaugeName LampUsed{"qx200_lamp_used_seconds", "How long the lamp has been lit, in all"};
constexpr GaugeName Reversed{"qx200_image_reversed", "1 when the image is reversed on the axis"};
constexpr GaugeName Temperature{"qx200_temperature_celsius", "Temperature of the sensor"};
constexpr GaugeName LampModeInfo{"qx200_lamp_mode_info", "The lamp mode, 1 on its label"};
constexpr GaugeName LampOn{"qx200_lamp_on", "1 while the lamp is lit"};
constexpr GaugeName SignalInfo{"qx200_signal_info",
                               "Whether the picture has a signal (present, no_signal, standby)"};
constexpr GaugeName AvMute{"qx200_av_mute", "1 while video or audio is muted"};
constexpr GaugeName PressureGauge{"qx200_pressure_pascals", "Air pressure at the projector"};
constexpr GaugeName LastReply{"qx200_last_reply_timestamp_seconds",
                              "Unix time of the last reply that was read"};
constexpr GaugeName RoundDuration{"qx200_round_duration_seconds",
                                  "How long the last poll round took"};
constexpr GaugeName OperatorAttached{"qx200_operator_attached",
                                     "1 while a console is attached to the projector's line"};
constexpr GaugeName Unsolicited{"qx200_unsolicited_bytes_total",
                                "Bytes the projector sent outside any exchange, no operator active",
                                prometheus::MetricType::Counter};

// In the order of PollError.
constexpr std::array<const char*, 3> ErrorReasons{"timeout", "garbled", "device_lost"};
constexpr std::array<const char*, 3> Sensors{"s1", "s2", "s3"};

Labels projectorLabels(const QString& name, const QString& device)
{
    return {{"projector", name.toStdString()}, {"device", device.toStdString()}};
}

Labels with(Labels labels, const char* name, const std::string& value)
{
    labels.emplace(name, value);
    return labels;
}

// Gauges (and counters kept elsewhere) made afresh for one scrape, straight into the client
// library's data model; a family is made when its first value is set.
class Gauges {
public:
    void set(const GaugeName& gauge, const Labels& labels, double value)
    {
        auto [it, added] = index_.try_emplace(&gauge, families_.size());
        if (added)
            families_.push_back({gauge.name, gauge.help, gauge.type, {}});
        prometheus::ClientMetric metric;
        metric.label.reserve(labels.size());
        for (const auto& [name, text] : labels)
            metric.label.push_back({name, text});
        if (gauge.type == prometheus::MetricType::Counter)
            metric.counter.value = value;
        else
            metric.gauge.value = value;
        families_[it->second].metric.push_back(std::move(metric));
    }
    std::vector<prometheus::MetricFamily> take() { return std::move(families_); }

private:
    std::vector<prometheus::MetricFamily> families_;
    std::map<const GaugeName*, std::size_t> index_;
};

void publishReadings(Gauges& g, const Labels& base, const Readings& r)
{
    if (r.power) {
        if (r.power->state)
            g.set(PowerStatus, base, powerStatusValue(*r.power->state));
        for (const FaultName& fault : FaultNames)
            g.set(ErrorStatus, with(base, "component", fault.component),
                  r.power->faults.*fault.flag ? 1 : 0);
    }
    if (r.input)
        g.set(InputInfo, with(base, "input", inputName(*r.input)), 1);
    if (r.lampHours)
        g.set(LampUsed, base, double(r.lampHours->hours) * 3600);
    if (r.orientation) {
        g.set(Reversed, with(base, "axis", "top_bottom"), r.orientation->topBottomReversed);
        g.set(Reversed, with(base, "axis", "left_right"), r.orientation->leftRightReversed);
    }
    if (r.temperatures) {
        for (std::size_t i = 0; i < Sensors.size(); ++i)
            g.set(Temperature, with(base, "sensor", Sensors[i]), r.temperatures->celsius[i]);
    }
    if (r.lamps) {
        g.set(LampModeInfo, with(base, "mode", lampModeName(r.lamps->mode)), 1);
        g.set(LampOn, with(base, "lamp", "1"), r.lamps->lamp1On);
        g.set(LampOn, with(base, "lamp", "2"), r.lamps->lamp2On);
    }
    if (r.mute) {
        g.set(SignalInfo, with(base, "signal", signalName(r.mute->signal)), 1);
        if (r.mute->signal == PictureSignal::Present) {
            g.set(AvMute, with(base, "type", "video"), r.mute->video);
            g.set(AvMute, with(base, "type", "audio"), r.mute->audio);
        }
    }
    if (r.pressure)
        g.set(PressureGauge, base, r.pressure->hPa * 100);
}

} // namespace

FleetMetrics::FleetMetrics()
    : errors_(prometheus::BuildCounter()
                  .Name("qx200_poll_errors_total")
                  .Help("Queries that failed, by reason (timeout, garbled, device_lost)")
                  .Register(counts_)),
      rounds_(prometheus::BuildCounter()
                  .Name("qx200_poll_rounds_total")
                  .Help("Poll rounds finished")
                  .Register(counts_)),
      lateRounds_(prometheus::BuildCounter()
                      .Name("qx200_poll_rounds_late_total")
                      .Help("Poll rounds that fell due while the last one still ran")
                      .Register(counts_)),
      replyDuration_(prometheus::BuildHistogram()
                         .Name("qx200_reply_duration_seconds")
                         .Help("Time from sending a query to the end of its reply")
                         .Register(counts_)),
      pjlinkRequests_(prometheus::BuildCounter()
                          .Name("qx200_pjlink_requests_total")
                          .Help("Network controller requests answered, by command and result "
                                "(ok, err1 ... err4)")
                          .Register(counts_)),
      pjlinkRefused_(prometheus::BuildCounter()
                         .Name("qx200_pjlink_refused_logins_total")
                         .Help("Network controller connections refused for a wrong password "
                               "or a locked-out address")
                         .Register(counts_))
{
}

void FleetMetrics::watch(const Poller& poller)
{
    const Labels base = projectorLabels(poller.config().name, poller.config().device);
    std::array<prometheus::Counter*, ErrorReasons.size()> errors{};
    for (std::size_t i = 0; i < ErrorReasons.size(); ++i)
        errors[i] = &errors_.Add(with(base, "reason", ErrorReasons[i]));
    QObject::connect(&poller, &Poller::error, [errors](PollError error) {
        errors.at(static_cast<std::size_t>(error))->Increment();
    });
    prometheus::Counter& rounds = rounds_.Add(base);
    QObject::connect(&poller, &Poller::roundEnded, [&rounds] { rounds.Increment(); });
    prometheus::Counter& late = lateRounds_.Add(base);
    QObject::connect(&poller, &Poller::lateRound, [&late] { late.Increment(); });
    prometheus::Histogram& replies = replyDuration_.Add(base, ReplyDurationBuckets);
    QObject::connect(&poller, &Poller::replyTime,
                     [&replies](double seconds) { replies.Observe(seconds); });
    watched_[&poller] = {{errors.begin(), errors.end()}, &rounds, &late, &replies};
}

void FleetMetrics::forget(const Poller& poller)
{
    const auto it = watched_.find(&poller);
    if (it == watched_.end())
        return;
    for (prometheus::Counter* counter : it->second.errors)
        errors_.Remove(counter);
    rounds_.Remove(it->second.rounds);
    lateRounds_.Remove(it->second.late);
    replyDuration_.Remove(it->second.replies);
    watched_.erase(it);
}

void FleetMetrics::watch(const QString& projector, const PjlinkServer& server)
{
    const Labels base{{"projector", projector.toStdString()}};
    prometheus::Family<prometheus::Counter>& requests = pjlinkRequests_;
    QObject::connect(&server, &PjlinkServer::answered,
                     [&requests, base](const QByteArray& command, const QByteArray& result) {
                         requests
                             .Add(with(with(base, "command", command.toStdString()), "result",
                                       result.toStdString()))
                             .Increment();
                     });
    prometheus::Counter& refused = pjlinkRefused_.Add(base);
    QObject::connect(&server, &PjlinkServer::loginRefused, [&refused] { refused.Increment(); });
}

std::string FleetMetrics::exposition(const std::vector<ProjectorSnapshot>& snapshots) const
{
    Gauges gauges;
    for (const ProjectorSnapshot& projector : snapshots) {
        const Labels base = projectorLabels(projector.name, projector.device);
        gauges.set(Up, base, projector.up ? 1 : 0);
        gauges.set(OperatorAttached, base, projector.operatorPeer.isEmpty() ? 0 : 1);
        gauges.set(Unsolicited, base, double(projector.unsolicitedBytes));
        publishReadings(gauges, base, projector.readings);
        if (projector.lastReply)
            gauges.set(LastReply, base, double(projector.lastReply->toMSecsSinceEpoch()) / 1000.0);
        if (projector.lastRoundTime)
            gauges.set(RoundDuration, base,
                       std::chrono::duration<double>(*projector.lastRoundTime).count());
    }
    std::vector<prometheus::MetricFamily> families = gauges.take();
    for (prometheus::MetricFamily& family : counts_.Collect())
        families.push_back(std::move(family));
    std::ostringstream text;
    prometheus::TextSerializer().Serialize(text, families);
    return text.str();
}

} // namespace qx200
