// Response writing: exact bytes on the wire for the response cases.
#include "HttpTestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

using namespace httptest;

namespace {
// Header field names of a raw reply, in order.
std::vector<std::string> FieldNames(const std::string& reply) {
    std::vector<std::string> names;
    const std::string head = HeadOf(reply);
    size_t pos = head.find("\r\n") + 2;
    while (pos < head.size()) {
        const size_t end = head.find("\r\n", pos);
        if (end == pos) break;
        const std::string line = head.substr(pos, end - pos);
        names.push_back(line.substr(0, line.find(':')));
        pos = end + 2;
    }
    return names;
}

class ResponseTest : public ::testing::Test {
  protected:
    void Serve(TNetHTTPGetEvent handler) {
        fx.server.OnCommandGet = std::move(handler);
        fx.Start();
    }
    void TearDown() override { fx.server.SetActive(false); }
    ServerFixture fx;
};
} // namespace

TEST_F(ResponseTest, UntouchedResponseBytes) {
    Serve([](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {});
    bool closed = false;
    EXPECT_EQ(Exchange(fx.port, "GET /favicon.ico HTTP/1.1\r\n\r\n", &closed),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
              "Server: kavaroXP/beta3\r\n\r\n");
    EXPECT_TRUE(closed);
}

TEST_F(ResponseTest, ContentLengthFromStringAndStream) {
    Serve([](TNetPeerThread&, TNetHTTPRequestInfo& rq, TNetHTTPResponseInfo& rs) {
        if (rq.Target == "/s") {
            rs.ContentString = "abc";
        } else {
            auto stream = std::make_unique<TMemoryStream>();
            const std::string data(70000, 'z'); // more than one send chunk
            stream->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
            rs.SetContentSource(std::move(stream));
        }
    });
    std::string reply = Exchange(fx.port, "GET /s HTTP/1.0\r\n\r\n");
    EXPECT_EQ(
        reply,
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 3\r\n"
        "Server: kavaroXP/beta3\r\n\r\nabc");
    reply = Exchange(fx.port, "GET /m HTTP/1.0\r\n\r\n");
    EXPECT_NE(HeadOf(reply).find("Content-Length: 70000\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(reply), std::string(70000, 'z'));
}

TEST_F(ResponseTest, StatusTableAndDefaultBody) {
    Serve([](TNetPeerThread&, TNetHTTPRequestInfo& rq, TNetHTTPResponseInfo& rs) {
        if (rq.Target == "/402") rs.SetStatusCode(402);
        if (rq.Target == "/503") {
            rs.SetStatusCode(503);
            rs.SendContent();
        }
    });
    EXPECT_EQ(Exchange(fx.port, "GET /402 HTTP/1.0\r\n\r\n")
                  .rfind("HTTP/1.1 402 Unknown Response Code\r\n", 0),
              0u);
    const std::string reply = Exchange(fx.port, "GET /503 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u) << reply;
    EXPECT_EQ(HeadOf(reply).find("Content-Length"), std::string::npos);
    EXPECT_EQ(BodyOf(reply), "<HTML><BODY><B>503 Service Unavailable</B></BODY></HTML>\r\n");

    EXPECT_EQ(HTTPStatusText(300), "Unknown Response Code");
    EXPECT_EQ(HTTPStatusText(413), "Request Entity To Long");
    EXPECT_EQ(HTTPStatusText(414), "Request-URI Too Long. 256 Chars max");
    EXPECT_EQ(HTTPStatusText(504), "Gateway timeout");
}

TEST_F(ResponseTest, NotFoundClosesKeepAliveConnection) {
    fx.server.KeepAlive = true;
    Serve([](TNetPeerThread&, TNetHTTPRequestInfo& rq, TNetHTTPResponseInfo& rs) {
        if (rq.Target == "/missing") rs.SetStatusCode(404);
        rs.ContentString.assign(1, 'x'); // GCC 12 warns falsely on = "x" here (-Wrestrict)
    });
    RawClient c(fx.port);
    c.Send("GET /ok HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    const std::string first = c.ReadUntilContains("\r\n\r\nx");
    EXPECT_NE(first.find("Connection: keep-alive"), std::string::npos) << first;
    c.Send("GET /missing HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    bool closed = false;
    const std::string second = c.ReadUntilClose(5000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(second.rfind("HTTP/1.1 404 Not Found\r\nConnection: close\r\n", 0), 0u) << second;
}

TEST_F(ResponseTest, SendHeaderTwiceRaises) {
    std::mutex lock;
    std::string message;
    Serve([&](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo& rs) {
        rs.SendHeader();
        try {
            rs.SendHeader();
        } catch (const ENetHTTPHeaderAlreadyWritten& e) {
            std::lock_guard g(lock);
            message = e.Message();
            throw;
        }
    });
    const std::string reply = Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n");
    std::lock_guard g(lock);
    EXPECT_EQ(message, "Header has already been written.");
    // One header only; the failure text follows as the body.
    EXPECT_EQ(reply, "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
                     "Server: kavaroXP/beta3\r\n\r\nHeader has already been written.");
}

TEST_F(ResponseTest, CustomHeaderBetweenPragmaAndServer) {
    fx.server.ServerSoftware = " other/1 "; // not blank: replaces Server, untrimmed
    Serve([](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo& rs) {
        rs.Pragma = "no-cache";
        rs.CustomHeaders.Add("X-Extra: 1");
        rs.ContentString.assign(1, 'b');
    });
    const std::string reply = Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(FieldNames(reply),
              (std::vector<std::string>{"Connection", "Content-Type", "Content-Length", "Pragma",
                                        "X-Extra", "Server"}));
    EXPECT_NE(reply.find("Server:  other/1 \r\n"), std::string::npos) << reply;
}

TEST_F(ResponseTest, LandingPageHeaderOrder) {
    const std::string page(2048, 'p');
    Serve([&](TNetPeerThread&, TNetHTTPRequestInfo& rq, TNetHTTPResponseInfo& rs) {
        rs.CacheControl = "no-cache, must revalidate";
        rs.Pragma = "no-cache";
        rs.Expires = Now() - 23.0 / 1440.0;
        rs.Date = Now();
        auto stream = std::make_unique<TMemoryStream>();
        if (rq.Target == "/") {
            stream->WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
            rs.ContentLength = stream->Size();
            rs.ContentType = "text/html";
            rs.SetContentSource(std::move(stream));
            rs.SendHeader();
            rs.SendContent();
        }
    });
    std::string reply = Exchange(fx.port, "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(FieldNames(reply),
              (std::vector<std::string>{"Connection", "Content-Type", "Content-Length",
                                        "Cache-control", "Date", "Expires", "Pragma", "Server"}));
    EXPECT_NE(reply.find("Connection: close\r\nContent-Type: text/html\r\nContent-Length: 2048\r\n"
                         "Cache-control: no-cache, must revalidate\r\n"),
              std::string::npos);
    EXPECT_NE(reply.find("Pragma: no-cache\r\nServer: kavaroXP/beta3\r\n\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(reply), page);

    // Another target: the header alone, no Content-Length, no body.
    reply = Exchange(fx.port, "GET /index.html HTTP/1.1\r\n\r\n");
    EXPECT_EQ(FieldNames(reply),
              (std::vector<std::string>{"Connection", "Content-Type", "Cache-control", "Date",
                                        "Expires", "Pragma", "Server"}));
    EXPECT_EQ(BodyOf(reply), "");
}

TEST_F(ResponseTest, RealmMakesABasicChallenge) {
    Serve(
        [](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo& rs) { rs.Realm = "area"; });
    const std::string reply = Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u) << reply;
    EXPECT_NE(reply.find("WWW-Authenticate: Basic realm=\"area\"\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(reply), "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>");
}

TEST_F(ResponseTest, ServeFileContents) {
    const std::string path = ::testing::TempDir() + "served.css";
    {
        std::ofstream f(path, std::ios::binary);
        f << "body{}";
    }
    Serve([&](TNetPeerThread& t, TNetHTTPRequestInfo&, TNetHTTPResponseInfo& rs) {
        rs.ContentType.clear();
        fx.server.ServeFileContents(t, rs, path);
    });
    const std::string reply = Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_NE(reply.find("Content-Type: text/css\r\nContent-Length: 6\r\n"), std::string::npos)
        << reply;
    EXPECT_EQ(BodyOf(reply), "body{}");
}
