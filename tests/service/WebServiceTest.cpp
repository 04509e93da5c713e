#include "service/WebService.h"
#include "service/Fleet.h"
#include "service/Gzip.h"
#include "service/WebConfig.h"
#include "support/FleetProcesses.h"
#include "support/TlsFiles.h"

#include <QTemporaryDir>
#include <crypt.h>
#include <gtest/gtest.h>
#include <zlib.h>

namespace qx200 {
namespace {

QByteArray gunzip(const QByteArray& member)
{
    z_stream stream{};
    inflateInit2(&stream, 16 + MAX_WBITS);
    QByteArray out(1 << 20, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
    stream.avail_in = uInt(member.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = inflate(&stream, Z_FINISH);
    out.truncate(status == Z_STREAM_END ? qsizetype(stream.total_out) : 0);
    inflateEnd(&stream);
    return out;
}

TEST(Gzip, PrefixAndTailMakeOneMember)
{
    QByteArray page;
    for (int i = 0; i < 2000; ++i)
        page += "qx200_up{projector=\"hall-" + QByteArray::number(i) + "\"} 1\n";
    const GzipPrefix prefix = gzipPrefix(page);
    EXPECT_EQ(gunzip(gzipMember(prefix, "process_open_fds 12\n")), page + "process_open_fds 12\n");
    EXPECT_EQ(gunzip(gzipMember(gzipPrefix(""), "")), "");
    EXPECT_LT(prefix.deflated.size(), page.size() / 5);

    for (const auto& [header, takes] :
         std::initializer_list<std::pair<const char*, bool>>{{"gzip", true},
                                                             {"deflate, GZIP;q=0.5", true},
                                                             {"*", true},
                                                             {"", false},
                                                             {"gzip;q=0", false},
                                                             {"identity", false}})
        EXPECT_EQ(acceptsGzip(header), takes) << header;
}

class Web : public ::testing::Test {
protected:
    HttpResponse get(const QByteArray& path, const QByteArray& method = "GET")
    {
        return web.respond({method, path, {}, {}});
    }

    Fleet fleet{FleetConfig{}};
    int reloads = 0;
    WebService web{fleet, {"/m", false}, [this] {
                       ++reloads;
                       return QString();
                   }};
};

struct Route {
    const char* method;
    const char* path;
    int status;
    const char* bodyHas;
};

TEST_F(Web, RoutesAsExportersHaveThem)
{
    for (const Route& route : {
             Route{"GET", "/", 200, "<a href=\"/m\">Metrics</a>"},
             Route{"GET", "/m", 200, "qx200_build_info{revision=\""},
             Route{"GET", "/metrics", 404, "try / or /m"},
             Route{"GET", "/-/healthy", 200, "healthy"},
             Route{"GET", "/-/ready", 200, "ready"},
             Route{"POST", "/m", 405, "GET, HEAD"},
             Route{"GET", "/-/reload", 405, "POST"},
             Route{"POST", "/-/reload", 403, "--web.enable-lifecycle"},
         }) {
        const HttpResponse response = get(route.path, route.method);
        EXPECT_EQ(response.status, route.status) << route.method << ' ' << route.path;
        EXPECT_TRUE(response.body.contains(route.bodyHas))
            << route.method << ' ' << route.path << ": " << response.body.toStdString();
    }
    EXPECT_EQ(reloads, 0);
}

TEST_F(Web, MetricsGzippedWhenAsked)
{
    const HttpResponse plain = get("/m");
    const HttpResponse zipped = web.respond({"GET", "/m", "gzip", {}});
    ASSERT_EQ(zipped.headers.size(), 1u);
    EXPECT_EQ(zipped.headers[0].second, "gzip");
    const QByteArray text = gunzip(zipped.body);
    EXPECT_TRUE(text.contains("\nprocess_open_fds ")) << text.toStdString();
    EXPECT_TRUE(text.startsWith(plain.body.left(plain.body.indexOf("process_"))));
}

TEST_F(Web, ReloadTellsItsOutcome)
{
    web.noteReload(false);
    EXPECT_TRUE(get("/m").body.contains("\nqx200_config_last_reload_successful 0\n"));
    web.noteReload(true);
    EXPECT_TRUE(get("/m").body.contains("\nqx200_config_last_reload_successful 1\n"));
}

QByteArray bcrypt(const char* password)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_gensalt_rn("$2b$", 4, nullptr, 0, setting, sizeof setting);
    crypt_data data{};
    return crypt_r(password, setting, &data);
}

QByteArray basic(const QByteArray& user, const QByteArray& password)
{
    return "Basic " + (user + ':' + password).toBase64();
}

TEST(BasicAuth, BoundedWorkPerCredential)
{
    BasicAuth auth({{"prometheus", bcrypt("s3cret")}});
    auto now = BasicAuth::Clock::now();
    const std::optional<HttpResponse> none = auth.check({}, now);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 401);
    EXPECT_EQ(none->headers.at(0).first, "WWW-Authenticate");
    EXPECT_TRUE(auth.check(basic("prometheus", "wrong"), now));
    EXPECT_TRUE(auth.check(basic("nobody", "s3cret"), now));
    EXPECT_FALSE(auth.check(basic("prometheus", "s3cret"), now));

    // A scrape again: no bcrypt. Many wrong ones in a second: a few bcrypts at most.
    const int before = auth.checksDone();
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(auth.check(basic("prometheus", "s3cret"), now));
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(auth.check(basic("prometheus", "guess" + QByteArray::number(i)), now));
    EXPECT_LE(auth.checksDone() - before, BasicAuth::MaxChecksPerSecond);

    // The verdict is kept a while, not for ever.
    now += BasicAuth::Remembered + std::chrono::seconds(1);
    EXPECT_FALSE(auth.check(basic("prometheus", "s3cret"), now));
    EXPECT_GT(auth.checksDone(), before);
}

struct WebFile {
    const char* name;
    QByteArray yaml;   // TLS_CRT, TLS_KEY stand for the files made by openssl
    const char* error; // empty: taken
};

TEST(WebConfig, BadFilesRefusedWithTheReason)
{
    QTemporaryDir dir;
    const testing::TlsFiles tls = testing::makeTlsFiles(QDir(dir.path()));
    const QByteArray hash = bcrypt("s3cret");
    for (const WebFile& file : {
             WebFile{"Good",
                     "tls_server_config:\n  cert_file: TLS_CRT\n  key_file: TLS_KEY\n"
                     "basic_auth_users:\n  prometheus: " +
                         hash + "\n",
                     ""},
             WebFile{"Empty", "", ""},
             WebFile{"MissingCertificate",
                     "tls_server_config:\n  cert_file: nowhere.crt\n  key_file: TLS_KEY\n",
                     "cannot read the cert_file"},
             WebFile{"KeyIsNoKey",
                     "tls_server_config:\n  cert_file: TLS_CRT\n  key_file: TLS_CRT\n", "line 3: "},
             WebFile{"NoKey", "tls_server_config:\n  cert_file: TLS_CRT\n",
                     "needs cert_file and key_file"},
             WebFile{"NotBcrypt", "basic_auth_users:\n  prometheus: s3cret\n",
                     "line 2: the password of user \"prometheus\" is not a bcrypt hash"},
             WebFile{"NoPassword", "basic_auth_users:\n  prometheus:\n",
                     "user \"prometheus\" has no password hash"},
             WebFile{"EmptyPassword", "basic_auth_users:\n  prometheus: " + bcrypt("") + "\n",
                     "user \"prometheus\" has an empty password"},
             WebFile{"UnknownKey", "tls_config: {}\n", "unknown key \"tls_config\""},
         }) {
        QByteArray yaml = file.yaml;
        yaml.replace("TLS_CRT", tls.certificate.toUtf8()).replace("TLS_KEY", tls.key.toUtf8());
        const QString path = dir.filePath(QStringLiteral("web.yml"));
        testing::writeFile(path, yaml);
        const WebConfigResult result = loadWebConfig(path);
        if (*file.error == '\0') {
            EXPECT_TRUE(result.config) << file.name << ": " << result.error.toStdString();
        } else {
            EXPECT_FALSE(result.config) << file.name;
            EXPECT_TRUE(result.error.contains(QLatin1String(file.error)))
                << file.name << ": " << result.error.toStdString();
        }
    }
}

} // namespace
} // namespace qx200
