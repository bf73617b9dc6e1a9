// Request bodies: a body the owner has no use for is refused before any of
// it is read, all bodies together stay within a memory budget, and HEAD
// answers carry the header alone.
#include "HttpTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

using namespace httptest;

namespace {

// The landing page's shape: "/sdp" takes up to 16 bytes, every other route none.
class BodyLimitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fx.server.OnBodyLimit = [](const TNetHTTPRequestInfo& rq) -> int64_t {
            return rq.Target == "/sdp" && rq.Method == "POST" ? 16 : 0;
        };
        fx.server.OnCommandGet = [this](TNetPeerThread&, TNetHTTPRequestInfo& rq,
                                        TNetHTTPResponseInfo& rs) {
            ++handled;
            rs.ContentString = "ok " + rq.Target + " " + rq.BodyText.str();
        };
        fx.Start();
    }
    ServerFixture fx;
    std::atomic<int> handled{0};
};

TEST_F(BodyLimitTest, UnwantedBodyIsRefusedUnreadAndNeverInvitedWith100Continue) {
    for (const char* expect : {"", "Expect: 100-continue\r\n"}) {
        RawClient c(fx.port); // sends the head only: the answer cannot wait for the body
        c.Send(std::string("POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 100000\r\n") + expect +
               "\r\n");
        bool closed = false;
        const std::string reply = c.ReadUntilClose(5000, &closed);
        EXPECT_EQ(reply.rfind("HTTP/1.1 413 ", 0), 0u) << reply;
        EXPECT_EQ(reply.find("100 Continue"), std::string::npos);
        EXPECT_NE(reply.find("Connection: close\r\n"), std::string::npos);
        EXPECT_TRUE(closed);
    }
    // Past the route's limit, and of a length known only at the end.
    EXPECT_EQ(Exchange(fx.port, "POST /sdp HTTP/1.0\r\nContent-Length: 17\r\n\r\n")
                  .rfind("HTTP/1.1 413 ", 0),
              0u);
    EXPECT_EQ(Exchange(fx.port, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                  .rfind("HTTP/1.1 413 ", 0),
              0u);
    EXPECT_EQ(Exchange(fx.port, "POST /sdp HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                  .rfind("HTTP/1.1 411 ", 0),
              0u);
    EXPECT_EQ(handled, 0);

    // Within the limit: invited, then read; without a length a POST has no body.
    RawClient c(fx.port);
    c.Send("POST /sdp HTTP/1.1\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n");
    EXPECT_EQ(c.ReadUntilContains("\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    c.Send("v=0\r\n");
    EXPECT_EQ(BodyOf(c.ReadUntilClose()), "ok /sdp v=0\r\n");
    EXPECT_EQ(BodyOf(Exchange(fx.port, "POST / HTTP/1.0\r\n\r\n")), "ok / ");
    EXPECT_EQ(BodyOf(Exchange(fx.port, "GET /?a=1 HTTP/1.0\r\nContent-Length: 0\r\n\r\n")),
              "ok / ");
}

TEST(BodyBudget, ASecondBodyPastTheBudgetIsRefusedUntilTheFirstIsDone) {
    ServerFixture fx;
    fx.server.BodyMemoryBudget = 1 << 20;
    fx.server.OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo& rq,
                                TNetHTTPResponseInfo& rs) {
        rs.ContentString = "got " + std::to_string(rq.BodyText.size());
    };
    fx.Start();
    const std::string head = "POST / HTTP/1.0\r\nContent-Length: 600000\r\n\r\n";
    const std::string body(600000, 'b');
    RawClient first(fx.port);
    first.Send(head + body.substr(0, 1000));
    ASSERT_TRUE(WaitFor([&] { return fx.server.BodyMemoryHeld() == 600000; }));

    RawClient second(fx.port);
    second.Send(head);
    const std::string refused = second.ReadUntilClose();
    EXPECT_EQ(refused.rfind("HTTP/1.1 503 ", 0), 0u) << refused;
    EXPECT_NE(refused.find("Retry-After: 5\r\n"), std::string::npos);

    first.Send(body.substr(1000));
    EXPECT_EQ(BodyOf(first.ReadUntilClose()), "got 600000");
    EXPECT_TRUE(WaitFor([&] { return fx.server.BodyMemoryHeld() == 0; }));
    EXPECT_EQ(BodyOf(Exchange(fx.port, head + body)), "got 600000");
}

TEST(HeadRequest, CarriesExactlyTheHeaderOfTheGetAnswer) {
    const std::string file = ::testing::TempDir() + "/head_test.txt";
    std::ofstream(file) << "eleven file";
    ServerFixture fx;
    fx.server.KeepAlive = true;
    fx.server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& rq,
                                 TNetHTTPResponseInfo& rs) {
        if (rq.Target == "/text") {
            rs.ContentString = "eleven text";
        } else if (rq.Target == "/stream") {
            auto s = std::make_unique<TStringStream>("stream body");
            rs.SetContentSource(std::move(s));
            rs.SendContent();
        } else {
            fx.server.ServeFileContents(t, rs, file);
        }
    };
    fx.Start();
    for (const std::string target : {"/text", "/stream", "/file"}) {
        // On one kept-alive connection the GET's answer follows the head at once.
        RawClient c(fx.port);
        c.Send("HEAD " + target + " HTTP/1.1\r\nConnection: Keep-alive\r\n\r\n" + "GET " + target +
               " HTTP/1.1\r\n\r\n");
        const std::string reply = c.ReadUntilClose();
        const std::string head = HeadOf(reply);
        EXPECT_NE(head.find("Content-Length: 11\r\n"), std::string::npos) << target << reply;
        const std::string get = reply.substr(head.size());
        EXPECT_EQ(get.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << target << reply;
        EXPECT_EQ(BodyOf(get).size(), 11u) << target;
    }
    std::remove(file.c_str());
}

} // namespace
