// The request loop against a real server on loopback: raw bytes in, raw bytes out.
#include "HttpTestSupport.h"
#include "http/NetCoderMIME.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

using namespace httptest;

namespace {
struct Seen {
    std::string method, target, version, query, paramText, bodyText, user, password, host;
    std::vector<std::string> params, cookieNames, cookieValues;
    bool hasCredentials = false;
    int calls = 0;
};

class RequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fx.server.OnCommandGet = [this](TNetPeerThread&, TNetHTTPRequestInfo& rq,
                                        TNetHTTPResponseInfo& rs) {
            std::lock_guard g(lock);
            seen.method = rq.Method;
            seen.target = rq.Target;
            seen.version = rq.ProtocolVersion;
            seen.query = rq.QueryText;
            seen.paramText = rq.ParamText;
            seen.bodyText = rq.BodyText;
            seen.params.assign(rq.ParamList.begin(), rq.ParamList.end());
            seen.cookieNames.clear();
            seen.cookieValues.clear();
            for (int i = 0; i < rq.CookieList.Count(); ++i) {
                seen.cookieNames.push_back(rq.CookieList[i].CookieName);
                seen.cookieValues.push_back(rq.CookieList[i].CookieValue);
            }
            seen.hasCredentials = rq.HasCredentials;
            seen.user = rq.CredentialUser;
            seen.password = rq.CredentialPassword;
            seen.host = rq.Host;
            ++seen.calls;
            rs.ContentString = "t=" + rq.Target;
        };
        fx.server.OnException = [this](TNetPeerThread&, const std::exception& e) {
            std::lock_guard g(lock);
            errors.push_back(e.what());
        };
    }
    void TearDown() override { fx.server.SetActive(false); }

    Seen Get() {
        std::lock_guard g(lock);
        return seen;
    }
    bool ErrorSeen(const std::string& text) {
        return WaitFor([&] {
            std::lock_guard g(lock);
            for (auto& e : errors)
                if (e == text) return true;
            return false;
        });
    }

    ServerFixture fx;
    std::mutex lock; // guards seen and errors
    Seen seen;
    std::vector<std::string> errors;
};
} // namespace

TEST_F(RequestTest, RequestLineForms) {
    fx.Start();
    std::string reply = Exchange(fx.port, "GET / HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
    EXPECT_EQ(BodyOf(reply), "t=/");
    Seen s = Get();
    EXPECT_EQ(s.method, "GET");
    EXPECT_EQ(s.target, "/");
    EXPECT_EQ(s.version, "HTTP/1.1");
    EXPECT_EQ(s.host, "h");

    reply = Exchange(fx.port, "get /a%20b HTTP/1.0\r\n\r\n");
    EXPECT_EQ(BodyOf(reply), "t=/a b");
    EXPECT_EQ(Get().method, "GET");

    // One space only: the path is taken as the version and the target is empty.
    reply = Exchange(fx.port, "GET /\r\n\r\n");
    EXPECT_EQ(BodyOf(reply), "t=");
    s = Get();
    EXPECT_EQ(s.version, "/");
    EXPECT_EQ(s.target, "");

    // HEAD is dispatched like GET; only the header of the answer goes out.
    reply = Exchange(fx.port, "HEAD /x HTTP/1.0\r\n\r\n");
    EXPECT_EQ(BodyOf(reply), "");
    EXPECT_NE(reply.find("Content-Length: 4\r\n"), std::string::npos) << reply;
    EXPECT_EQ(Get().method, "HEAD");
}

TEST_F(RequestTest, BadRequestLinesCloseWithoutReply) {
    std::vector<std::string> other;
    fx.server.OnCommandOther = [&](TNetPeerThread&, const std::string& m, const std::string& t,
                                   const std::string& v) {
        std::lock_guard g(lock);
        other.push_back(m + "|" + t + "|" + v);
    };
    fx.Start();
    bool closed = false;
    EXPECT_EQ(Exchange(fx.port, "GET\r\n\r\n", &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(ErrorSeen("Error in parsing command."));

    EXPECT_EQ(Exchange(fx.port, "OPTIONS * HTTP/1.1\r\n\r\n", &closed), "");
    EXPECT_TRUE(closed);
    {
        std::lock_guard g(lock);
        ASSERT_EQ(other.size(), 1u);
        EXPECT_EQ(other[0], "OPTIONS|*|HTTP/1.1");
    }
    EXPECT_EQ(Get().calls, 0);
}

TEST_F(RequestTest, QueryAndFormParameters) {
    fx.Start();
    Exchange(fx.port, "GET /?a=1&b=x+y&c=%41& HTTP/1.0\r\n\r\n");
    Seen s = Get();
    EXPECT_EQ(s.query, "a=1&b=x+y&c=%41&");
    ASSERT_EQ(s.params.size(), 4u);
    EXPECT_EQ(s.params[0], "a=1");
    EXPECT_EQ(s.params[1], "b=x y");
    EXPECT_EQ(s.params[2], "c=A");
    EXPECT_EQ(s.params[3], ""); // the trailing "&"
    EXPECT_EQ(s.target, "/");

    Exchange(fx.port, "POST /?a=1 HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                      "Content-Length: 3\r\n\r\nc=3");
    s = Get();
    EXPECT_EQ(s.bodyText, "c=3");
    EXPECT_EQ(s.paramText, "c=3&a=1");
    ASSERT_EQ(s.params.size(), 2u);
    EXPECT_EQ(s.params[0], "c=3");
    EXPECT_EQ(s.params[1], "a=1");

    // A content type with a charset takes the query only.
    Exchange(
        fx.port,
        "POST /?q=1 HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"
        "Content-Length: 3\r\n\r\nc=3");
    s = Get();
    ASSERT_EQ(s.params.size(), 1u);
    EXPECT_EQ(s.params[0], "q=1");
}

TEST_F(RequestTest, PostBodyByLengthOrUntilClose) {
    fx.Start();
    std::string reply =
        Exchange(fx.port, "POST /p HTTP/1.0\r\nContent-Length: 5\r\n\r\nhelloEXTRA");
    EXPECT_EQ(BodyOf(reply), "t=/p");
    EXPECT_EQ(Get().bodyText, "hello");

    RawClient c(fx.port);
    c.Send("POST /u HTTP/1.0\r\n\r\nfirst ");
    c.Send("second");
    c.ShutdownWrite(); // the body ends where the client stops sending
    // The client's close ends the connection too: the handler gets the whole
    // body, but no reply can follow.
    bool closed = false;
    EXPECT_EQ(c.ReadUntilClose(5000, &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(WaitFor([&] { return Get().bodyText == "first second"; }));
    EXPECT_EQ(Get().target, "/u");
}

TEST_F(RequestTest, CookiesAndCredentials) {
    fx.Start();
    Exchange(fx.port, "GET / HTTP/1.0\r\nCookie: a=1; b=2\r\n\r\n");
    Seen s = Get();
    ASSERT_EQ(s.cookieNames.size(), 2u);
    EXPECT_EQ(s.cookieNames[0], "a");
    EXPECT_EQ(s.cookieValues[0], "1");
    EXPECT_EQ(s.cookieNames[1], "b");
    EXPECT_EQ(s.cookieValues[1], "2");
    EXPECT_FALSE(s.hasCredentials);

    Exchange(fx.port, "GET / HTTP/1.0\r\nAuthorization: Basic " + EncodeBase64Text("joe:se:cret") +
                          "\r\n\r\n");
    s = Get();
    EXPECT_TRUE(s.hasCredentials);
    EXPECT_EQ(s.user, "joe");
    EXPECT_EQ(s.password, "se:cret");

    Exchange(fx.port,
             "GET / HTTP/1.0\r\nAuthorization: basic " + EncodeBase64Text("onlyuser") + "\r\n\r\n");
    s = Get();
    EXPECT_EQ(s.user, "onlyuser");
    EXPECT_EQ(s.password, "");
    const int calls = s.calls;

    bool closed = false;
    EXPECT_EQ(Exchange(fx.port, "GET / HTTP/1.0\r\nAuthorization: Digest username=\"x\"\r\n\r\n",
                       &closed),
              "");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(ErrorSeen("Unsupported authorization scheme."));
    EXPECT_EQ(Exchange(fx.port, "GET / HTTP/1.0\r\nAuthorization: Basic abcde\r\n\r\n", &closed),
              "");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(ErrorSeen("Uneven size in DecodeToStream."));
    EXPECT_EQ(Get().calls, calls);
}

TEST_F(RequestTest, ExpiresOfOneDayInSecondsClosesWithoutReply) {
    fx.Start();
    bool closed = false;
    EXPECT_EQ(Exchange(fx.port, "GET / HTTP/1.0\r\nExpires: 86400\r\n\r\n", &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_EQ(Get().calls, 0);
    EXPECT_EQ(BodyOf(Exchange(fx.port, "GET / HTTP/1.0\r\nExpires: 86399\r\n\r\n")), "t=/");
}

TEST_F(RequestTest, KeepAliveOnlyWhenSwitchedOn) {
    fx.Start();
    {
        RawClient c(fx.port);
        c.Send("GET /1 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
        bool closed = false;
        const std::string reply = c.ReadUntilClose(5000, &closed);
        EXPECT_TRUE(closed);
        EXPECT_NE(reply.find("Connection: close\r\n"), std::string::npos);
    }
    fx.server.SetActive(false);
    fx.server.KeepAlive = true;
    fx.server.SetActive(true);
    RawClient c(fx.port);
    c.Send("GET /1 HTTP/1.1\r\nConnection: KEEP-ALIVE\r\n\r\n");
    const std::string first = c.ReadUntilContains("t=/1");
    EXPECT_NE(first.find("Connection: keep-alive\r\n"), std::string::npos) << first;
    EXPECT_NE(first.find("t=/1"), std::string::npos);
    c.Send("GET /2 HTTP/1.1\r\n\r\n"); // no keep-alive asked: closed after this one
    bool closed = false;
    const std::string second = c.ReadUntilClose(5000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_NE(second.find("Connection: close\r\n"), std::string::npos) << second;
    EXPECT_NE(second.find("t=/2"), std::string::npos);
}

TEST_F(RequestTest, HandlerExceptionBecomes500) {
    fx.server.OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {
        throw Exception("boom");
    };
    fx.Start();
    const std::string reply = Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 500 Internal Server Error\r\n", 0), 0u) << reply;
    EXPECT_NE(reply.find("Content-Length: 4\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(reply), "boom");
}

TEST_F(RequestTest, CurlIsServed) {
    if (std::system("curl --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "curl not installed";
    fx.Start();
    const std::string out = ::testing::TempDir() + "curl_out.txt";
    const std::string cmd = "curl -s -o " + out +
                            " --max-time 10 'http://127.0.0.1:" + std::to_string(fx.port) +
                            "/dir/page?x=1+2' -d 'k=v' -H 'Cookie: c=3' -u 'me:pw'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(out);
    std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(body, "t=/dir/page");
    Seen s = Get();
    EXPECT_EQ(s.method, "POST");
    EXPECT_EQ(s.bodyText, "k=v");
    ASSERT_EQ(s.params.size(), 2u);
    EXPECT_EQ(s.params[0], "k=v");
    EXPECT_EQ(s.params[1], "x=1 2");
    EXPECT_EQ(s.user, "me");
    EXPECT_EQ(s.password, "pw");
    ASSERT_EQ(s.cookieNames.size(), 1u);
    EXPECT_EQ(s.cookieNames[0], "c");
}
