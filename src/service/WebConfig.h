#pragma once

// The web configuration file (--web.config.file), in the form Prometheus exporters take:
//
//   tls_server_config:
//     cert_file: /etc/qx200d/tls.crt
//     key_file: /etc/qx200d/tls.key
//   basic_auth_users:
//     prometheus: $2y$10$...   # a bcrypt hash (htpasswd -nBC 10 "" | tr -d ':')
//
// and the check of a request's credentials against those users.

#include "service/HttpResponder.h"

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>
#include <chrono>
#include <map>
#include <optional>
#include <string_view>

namespace qx200 {

struct WebConfig {
    std::optional<QSslConfiguration> tls;
    std::map<QByteArray, QByteArray> users; // name -> bcrypt hash
};

struct WebConfigResult {
    std::optional<WebConfig> config; // nothing when refused
    QString error;                   // "web.yml: line 3: ..."
};

// Reads the file; the certificate and key files it names are read too. Relative paths are
// taken from the file's folder.
WebConfigResult loadWebConfig(const QString& path);

// Whether the password matches the bcrypt hash.
bool bcryptMatches(const QByteArray& password, const QByteArray& hash);

// Checks the Authorization header of requests against the users. A verdict is kept for a minute
// per credential, so that a scrape costs no bcrypt; new credentials are checked at most
// MaxChecksPerSecond times a second (beyond that they are refused unchecked), and refusals are
// logged in one line a minute at most.
class BasicAuth {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int MaxChecksPerSecond = 4;
    static constexpr std::size_t MaxRemembered = 256;
    static constexpr std::chrono::seconds Remembered{60};

    explicit BasicAuth(std::map<QByteArray, QByteArray> users);

    // Nothing when the header holds a user's good credentials, otherwise the 401 answer.
    std::optional<HttpResponse> check(const QByteArray& authorization,
                                      Clock::time_point now = Clock::now());
    // bcrypt runs done so far.
    int checksDone() const { return checksDone_; }

private:
    bool allows(const QByteArray& authorization, Clock::time_point now);
    void noteRefusal(Clock::time_point now);

    struct Verdict {
        bool allowed;
        Clock::time_point until;
    };

    std::map<QByteArray, QByteArray> users_;
    QByteArray secret_; // keys the remembered credentials: no password kept in memory
    std::map<QByteArray, Verdict> remembered_;
    Clock::time_point budgetSecond_{};
    int budget_ = 0;
    int checksDone_ = 0;
    int refusedUnlogged_ = 0;
    std::optional<Clock::time_point> lastLog_;
};

} // namespace qx200
