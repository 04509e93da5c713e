#include "service/WebConfig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslKey>
#include <algorithm>
#include <crypt.h>
#include <cstdio>
#include <memory>
#include <yaml-cpp/yaml.h>

namespace qx200 {

namespace {

struct Refusal {
    int line;
    QString reason;
};

[[noreturn]] void refuse(const YAML::Node& node, const QString& reason)
{
    throw Refusal{std::max(node.Mark().line, 0) + 1, reason};
}

QString text(const YAML::Node& node, const char* key)
{
    if (!node.IsScalar() || node.Scalar().empty())
        refuse(node, QStringLiteral("%1 must be a text").arg(QLatin1String(key)));
    return QString::fromStdString(node.Scalar());
}

void checkKeys(const YAML::Node& map, std::initializer_list<const char*> known, const char* where)
{
    if (!map.IsMap())
        refuse(map, QStringLiteral("%1 must be a map").arg(QLatin1String(where)));
    for (const auto& item : map) {
        const std::string key = item.first.Scalar();
        if (std::none_of(known.begin(), known.end(), [&](const char* k) { return key == k; }))
            refuse(item.first, QStringLiteral("unknown key \"%1\" in %2")
                                   .arg(QString::fromStdString(key), QLatin1String(where)));
    }
}

QByteArray readFile(const QString& path, const char* what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Refusal{0, QStringLiteral("cannot read the %1 %2: %3")
                             .arg(QLatin1String(what), path, file.errorString())};
    return file.read(1 << 20);
}

QSslConfiguration tlsFrom(const YAML::Node& node, const QDir& base)
{
    checkKeys(node, {"cert_file", "key_file"}, "tls_server_config");
    if (!node["cert_file"] || !node["key_file"])
        refuse(node, QStringLiteral("tls_server_config needs cert_file and key_file"));
    const QString certPath = base.filePath(text(node["cert_file"], "cert_file"));
    const QString keyPath = base.filePath(text(node["key_file"], "key_file"));
    const QList<QSslCertificate> chain = QSslCertificate::fromData(readFile(certPath, "cert_file"));
    if (chain.isEmpty())
        refuse(node["cert_file"], certPath + QStringLiteral(" holds no PEM certificate"));
    const QByteArray keyBytes = readFile(keyPath, "key_file");
    QSslKey key(keyBytes, QSsl::Rsa);
    if (key.isNull())
        key = QSslKey(keyBytes, QSsl::Ec);
    if (key.isNull())
        refuse(node["key_file"],
               keyPath + QStringLiteral(" holds no unencrypted PEM RSA or EC key"));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

bool isBcrypt(const QByteArray& hash)
{
    static const QList<QByteArray> Prefixes{"$2a$", "$2b$", "$2y$"};
    return hash.size() == 60 &&
           std::any_of(Prefixes.begin(), Prefixes.end(),
                       [&](const QByteArray& prefix) { return hash.startsWith(prefix); }) &&
           crypt_checksalt(hash.constData()) == CRYPT_SALT_OK;
}

std::map<QByteArray, QByteArray> usersFrom(const YAML::Node& node)
{
    if (!node.IsMap())
        refuse(node, QStringLiteral("basic_auth_users must map user names to bcrypt hashes"));
    std::map<QByteArray, QByteArray> users;
    for (const auto& item : node) {
        const QByteArray name = QByteArray::fromStdString(item.first.Scalar());
        if (name.isEmpty() || name.contains(':'))
            refuse(item.first, QStringLiteral("a user name must be a text without \":\""));
        if (!item.second.IsScalar() || item.second.Scalar().empty())
            refuse(item.second,
                   QStringLiteral("user \"%1\" has no password hash").arg(QString::fromUtf8(name)));
        const QByteArray hash = QByteArray::fromStdString(item.second.Scalar());
        if (!isBcrypt(hash))
            refuse(item.second, QStringLiteral("the password of user \"%1\" is not a bcrypt hash "
                                               "($2y$..., as htpasswd -B makes)")
                                    .arg(QString::fromUtf8(name)));
        if (bcryptMatches("", hash))
            refuse(
                item.second,
                QStringLiteral("user \"%1\" has an empty password").arg(QString::fromUtf8(name)));
        users[name] = hash;
    }
    return users;
}

WebConfig webConfigFrom(const YAML::Node& root, const QDir& base)
{
    WebConfig config;
    if (root.IsNull())
        return config;
    checkKeys(root, {"tls_server_config", "basic_auth_users"}, "the web configuration");
    if (const YAML::Node tls = root["tls_server_config"])
        config.tls = tlsFrom(tls, base);
    if (const YAML::Node users = root["basic_auth_users"])
        config.users = usersFrom(users);
    return config;
}

} // namespace

bool bcryptMatches(const QByteArray& password, const QByteArray& hash)
{
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(password.constData(), hash.constData(), data.get());
    return result && result[0] != '*' && hash == result;
}

WebConfigResult loadWebConfig(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("%1: cannot read: %2").arg(path, file.errorString())};
    try {
        return {webConfigFrom(YAML::Load(file.read(1 << 20).toStdString()),
                              QFileInfo(path).absoluteDir()),
                {}};
    } catch (const Refusal& refusal) {
        if (refusal.line == 0)
            return {std::nullopt, QStringLiteral("%1: %2").arg(path, refusal.reason)};
        return {std::nullopt,
                QStringLiteral("%1: line %2: %3").arg(path).arg(refusal.line).arg(refusal.reason)};
    } catch (const YAML::Exception& error) {
        return {std::nullopt, QStringLiteral("%1: line %2: %3")
                                  .arg(path)
                                  .arg(error.mark.line + 1)
                                  .arg(QString::fromStdString(error.msg))};
    }
}

BasicAuth::BasicAuth(std::map<QByteArray, QByteArray> users) : users_(std::move(users))
{
    secret_.resize(32);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(secret_.data()), 8);
}

std::optional<HttpResponse> BasicAuth::check(const QByteArray& authorization, Clock::time_point now)
{
    if (allows(authorization, now))
        return std::nullopt;
    if (!authorization.isEmpty())
        noteRefusal(now);
    HttpResponse response = plainResponse(401, "Unauthorized");
    response.headers.emplace_back("WWW-Authenticate", "Basic realm=\"qx200d\"");
    return response;
}

bool BasicAuth::allows(const QByteArray& authorization, Clock::time_point now)
{
    if (!authorization.startsWith("Basic "))
        return false;
    const QByteArray key =
        QCryptographicHash::hash(secret_ + authorization, QCryptographicHash::Sha256);
    if (const auto it = remembered_.find(key); it != remembered_.end()) {
        if (it->second.until > now)
            return it->second.allowed;
        remembered_.erase(it);
    }
    // A bcrypt costs tens of milliseconds: only so many a second.
    if (now - budgetSecond_ >= std::chrono::seconds(1)) {
        budgetSecond_ = now;
        budget_ = MaxChecksPerSecond;
    }
    if (budget_ == 0)
        return false;
    --budget_;
    const QByteArray decoded = QByteArray::fromBase64(authorization.mid(6).trimmed());
    const qsizetype colon = decoded.indexOf(':');
    const auto user = colon < 0 ? users_.end() : users_.find(decoded.first(colon));
    bool allowed = false;
    if (user != users_.end()) {
        ++checksDone_;
        allowed = bcryptMatches(decoded.mid(colon + 1), user->second);
    }
    if (remembered_.size() >= MaxRemembered)
        std::erase_if(remembered_, [&](const auto& entry) { return entry.second.until <= now; });
    if (remembered_.size() >= MaxRemembered)
        remembered_.erase(remembered_.begin());
    remembered_[key] = {allowed, now + Remembered};
    return allowed;
}

void BasicAuth::noteRefusal(Clock::time_point now)
{
    ++refusedUnlogged_;
    if (lastLog_ && now - *lastLog_ < std::chrono::minutes(1))
        return;
    std::fprintf(stderr, "qx200d: %d requests refused for wrong credentials%s\n", refusedUnlogged_,
                 lastLog_ ? " in the last minute" : "");
    lastLog_ = now;
    refusedUnlogged_ = 0;
}

} // namespace qx200
