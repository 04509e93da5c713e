#include "service/HttpResponder.h"
#include "support/HttpExchange.h"

#include <gtest/gtest.h>

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
    ASSERT_EQ(request.has_value(), GetParam().expected.has_value());
    if (request) {
        EXPECT_EQ(request->method, GetParam().expected->method);
        EXPECT_EQ(request->path, GetParam().expected->path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    HttpResponder, RequestHeads,
    ::testing::Values(HeadCase{"Get", "GET /metrics HTTP/1.1\r\nHost: x",
                               HttpRequest{"GET", "/metrics"}},
                      HeadCase{"QueryDropped", "GET /?a=1 HTTP/1.0", HttpRequest{"GET", "/"}},
                      HeadCase{"Head", "HEAD / HTTP/1.1", HttpRequest{"HEAD", "/"}},
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
    HttpResponder responder([](const QByteArray& path) {
        return HttpResponse{200, "text/plain", "path " + path};
    });
    ASSERT_TRUE(responder.listen(QHostAddress::LocalHost, 0));
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
        Exchange{"Post", "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
                 "HTTP/1.1 405 Method Not Allowed", "only GET and HEAD are served\n"},
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

} // namespace
} // namespace qx200
