#pragma once

// A self-signed certificate and its key for 127.0.0.1, made with openssl in a folder.

#include <QDir>
#include <QProcess>
#include <QString>
#include <stdexcept>

namespace qx200::testing {

struct TlsFiles {
    QString certificate;
    QString key;
};

inline TlsFiles makeTlsFiles(const QDir& folder)
{
    const TlsFiles files{folder.filePath(QStringLiteral("tls.crt")),
                         folder.filePath(QStringLiteral("tls.key"))};
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", files.key,
                   "-out", files.certificate});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
        throw std::runtime_error("openssl made no certificate: " +
                                 openssl.readAllStandardError().toStdString());
    return files;
}

} // namespace qx200::testing
