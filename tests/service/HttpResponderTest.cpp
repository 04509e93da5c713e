#include "service/HttpResponder.h"
#include "support/EventLoop.h"
#include "support/HttpExchange.h"

#include <QTcpSocket>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace qx200 {
namespace {

struct HeadCase {
    const char* name;
    QByteArray head;
    std::optional<HttpRequest> expected;
};

class RequestHeads : public ::testing::TestWithParam<HeadCase> {};

TEST_P(RequestHeads, GiveMethodAndPath)
{
    const auto request = parseRequestHead(GetParam().head);
    EXPECT_EQ(request, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    HttpResponder, RequestHeads,
    ::testing::Values(
        HeadCase{"Get", "GET /metrics HTTP/1.1\r\nHost: x", HttpRequest{"GET", "/metrics", {}, {}}},
        HeadCase{"QueryDropped", "GET /?a=1 HTTP/1.0", HttpRequest{"GET", "/", {}, {}}},
        HeadCase{"Head", "HEAD / HTTP/1.1", HttpRequest{"HEAD", "/", {}, {}}},
        HeadCase{"AbsoluteForm", "GET http://h:9733/metrics?x HTTP/1.1",
                 HttpRequest{"GET", "/metrics", {}, {}}},
        HeadCase{"AbsoluteRoot", "GET https://h:9733 HTTP/1.1", HttpRequest{"GET", "/", {}, {}}},
        HeadCase{"Headers",
                 "GET / HTTP/1.1\nACCEPT-encoding:  gzip \r\nAuthorization: Basic eDp5\n",
                 HttpRequest{"GET", "/", "gzip", "Basic eDp5"}},
        HeadCase{"OtherScheme", "GET ftp://h/ HTTP/1.1", std::nullopt},
        HeadCase{"NotHttp", "hello", std::nullopt},
        HeadCase{"HttpTwo", "GET / HTTP/2", std::nullopt},
        HeadCase{"NoSlash", "GET metrics HTTP/1.1", std::nullopt},
        HeadCase{"ExtraBlank", "GET  / HTTP/1.1", std::nullopt}),
    [](const ::testing::TestParamInfo<HeadCase>& testCase) { return testCase.param.name; });

struct Exchange {
    const char* name;
    QByteArray request;
    QByteArray statusLine;
    QByteArray body; // empty: none
};

class Exchanges : public ::testing::TestWithParam<Exchange> {};

TEST_P(Exchanges, AnswerAndClose)
{
    HttpResponder responder([](const HttpRequest& request) {
        return HttpResponse{200, "text/plain", "path " + request.path};
    });
    QAbstractSocket::SocketError error{};
    QString why;
    ASSERT_TRUE(responder.listen(QHostAddress::LocalHost, 0, &error, &why));
    const QByteArray answer = testing::httpExchange(responder.port(), GetParam().request);
    EXPECT_TRUE(answer.startsWith(GetParam().statusLine + "\r\n")) << answer.toStdString();
    EXPECT_TRUE(answer.contains("\r\nConnection: close\r\n"));
    const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
    if (GetParam().body.isEmpty())
        EXPECT_TRUE(body.isEmpty() || GetParam().statusLine != "HTTP/1.1 200 OK");
    else
        EXPECT_EQ(body, GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    HttpResponder, Exchanges,
    ::testing::Values(
        Exchange{"Get", "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK",
                 "path /metrics"},
        Exchange{"HttpOneZero", "GET /a HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", "path /a"},
        Exchange{"Head", "HEAD / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", ""},
        Exchange{"BareLineFeeds", "GET /lf HTTP/1.1\nHost: x\n\n", "HTTP/1.1 200 OK", "path /lf"},
        Exchange{"AbsoluteForm", "GET http://127.0.0.1/abs HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK",
                 "path /abs"},
        Exchange{"Garbage", "\x01\x02\r\n\r\n", "HTTP/1.1 400 Bad Request",
                 "not an HTTP/1 request\n"},
        Exchange{"EndlessHead", "GET / HTTP/1.1\r\nX: " + QByteArray(MaxRequestHead, 'x'),
                 "HTTP/1.1 431 Request Header Fields Too Large", "request head too long\n"}),
    [](const ::testing::TestParamInfo<Exchange>& testCase) { return testCase.param.name; });

TEST(HttpResponder, ContentLengthCountsTheBody)
{
    const QByteArray bytes = responseBytes({200, "text/html", "<p>é</p>"}, true);
    EXPECT_TRUE(bytes.contains("\r\nContent-Length: 9\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nContent-Type: text/html\r\n"));
    EXPECT_TRUE(responseBytes({200, "text/html", "abc"}, false).endsWith("\r\n\r\n"));
}

// Idle connections beyond the bound close the oldest; the newest request is still answered.
TEST(HttpResponder, TooManyIdleConnectionsCloseTheOldest)
{
    HttpResponder responder([](const HttpRequest&) { return plainResponse(200, "ok"); });
    QAbstractSocket::SocketError error{};
    QString why;
    ASSERT_TRUE(responder.listen(QHostAddress::LocalHost, 0, &error, &why));
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < HttpResponder::MaxConnections + 20; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, responder.port());
        // Within the listening queue, so that none waits for a second try of its handshake.
        if (i % 20 == 19)
            testing::waitUntil([&] { return responder.connections() >= std::min(i + 1, 256); },
                               5000);
    }
    ASSERT_TRUE(testing::waitUntil(
        [&] { return idle.front()->state() == QAbstractSocket::UnconnectedState; }, 10000));
    EXPECT_LE(responder.connections(), HttpResponder::MaxConnections);
    EXPECT_TRUE(testing::waitUntil(
        [&] { return idle.back()->state() == QAbstractSocket::ConnectedState; }, 5000));
    EXPECT_TRUE(testing::httpGet(responder.port(), "/").startsWith("ok"));
}

} // namespace
} // namespace qx200
