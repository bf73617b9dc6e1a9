// Sessions: the list on its own, and session handling of a running server.
#include "HttpTestSupport.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

using namespace httptest;

TEST(SessionList, KeysLookupAndAddresses) {
    TNetHTTPDefaultSessionList list;
    list.SessionTimeout = 60000;
    int started = 0;
    list.OnSessionStart = [&](TNetHTTPSession&) { ++started; };
    auto s = list.NewUniqueSession("127.0.0.1");
    EXPECT_EQ(started, 1);
    ASSERT_EQ(s->SessionKey.size(), size_t(TNetHTTPDefaultSessionList::kSessionKeyLength));
    for (char c : s->SessionKey)
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)));
    EXPECT_EQ(list.FindSession(s->SessionKey, "127.0.0.1"), s);
    EXPECT_EQ(list.FindSession(UpperCase(s->SessionKey), ""), s); // no address: any, case ignored
    EXPECT_EQ(list.FindSession(s->SessionKey, "10.0.0.9"), nullptr);
    std::set<std::string> keys;
    for (int i = 0; i < 200; ++i)
        keys.insert(MakeSessionKey(15));
    EXPECT_EQ(keys.size(), 200u);
    for (const auto& k : keys)
        EXPECT_EQ(k.find('0'), std::string::npos);
}

TEST(SessionList, EndsEachSessionOnce) {
    TNetHTTPDefaultSessionList list;
    list.SessionTimeout = 60000;
    int ended = 0;
    list.OnSessionEnd = [&](TNetHTTPSession&) { ++ended; };
    auto a = list.NewUniqueSession("a");
    auto b = list.NewUniqueSession("b");
    auto c = list.NewUniqueSession("c");
    list.EndSession(*b);
    list.EndSession(*b);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(list.Count(), 2);
    // An application-made session has no LastUsed: stale at the next pass.
    list.AddSession(std::make_shared<TNetHTTPSession>());
    list.PurgeStale(false);
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(list.Count(), 2);
    list.ClearSessions();
    EXPECT_EQ(ended, 4);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(a->Owner(), nullptr); // still alive for whoever holds it, detached
}

namespace {
class SessionServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fx.server.SessionTimeOut = 120000;
        fx.server.OnCommandGet = [this](TNetPeerThread&, TNetHTTPRequestInfo& rq,
                                        TNetHTTPResponseInfo& rs) {
            std::lock_guard g(lock);
            lastKey = rq.SessionRef ? rq.SessionRef->SessionKey : "";
            rs.ContentString = "k=" + lastKey;
        };
        fx.server.OnSessionEnd = [this](TNetHTTPSession&) { ++ended; };
        fx.server.OnInvalidSession = [this](TNetPeerThread&, TNetHTTPRequestInfo&,
                                            TNetHTTPResponseInfo&, bool&, const std::string& id) {
            std::lock_guard g(lock);
            invalid.push_back(id);
        };
    }
    void TearDown() override { fx.server.SetActive(false); }

    // Starts a session through AutoStartSession and returns its key.
    std::string NewSessionKey() {
        const std::string reply = Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n");
        const std::string marker = "Set-Cookie: HTTPSESSIONID=";
        const size_t p = reply.find(marker);
        if (p == std::string::npos) return "";
        const size_t e = reply.find("; path=/\r\n", p);
        return reply.substr(p + marker.size(), e - p - marker.size());
    }

    ServerFixture fx;
    std::mutex lock; // guards lastKey and invalid
    std::string lastKey;
    std::vector<std::string> invalid;
    std::atomic<int> ended{0};
};
} // namespace

TEST_F(SessionServerTest, ZeroTimeoutSwitchesSessionsOff) {
    fx.server.SessionTimeOut = 0;
    fx.server.SetSessionState(true);
    fx.server.AutoStartSession = true;
    fx.Start();
    EXPECT_FALSE(fx.server.SessionState());
    EXPECT_EQ(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n").find("Set-Cookie"), std::string::npos);
    try {
        fx.server.SetSessionState(true);
        FAIL() << "no exception";
    } catch (const ENetHTTPCannotSwitchSessionStateWhenActive& e) {
        EXPECT_EQ(e.Message(), "Cannot change session state when the server is active.");
    }
    EXPECT_FALSE(fx.server.SessionState());
}

TEST_F(SessionServerTest, SecondCookieFoundAfterUnknownFirst) {
    fx.server.SetSessionState(true);
    fx.server.AutoStartSession = true;
    fx.Start();
    const std::string key = NewSessionKey();
    ASSERT_EQ(key.size(), size_t(TNetHTTPDefaultSessionList::kSessionKeyLength));
    const std::string reply =
        Exchange(fx.port, "GET / HTTP/1.0\r\nCookie: HTTPSESSIONID=unknown; httpsessionid=" + key +
                              "\r\n\r\n");
    EXPECT_EQ(BodyOf(reply), "k=" + key);
    EXPECT_EQ(reply.find("Set-Cookie"), std::string::npos); // no new session started
    std::lock_guard g(lock);
    ASSERT_EQ(invalid.size(), 1u);
    EXPECT_EQ(invalid[0], "unknown");
}

TEST_F(SessionServerTest, StaleSessionEndedByCleaner) {
    fx.server.SessionTimeOut = 300;
    fx.server.SetSessionState(true);
    fx.server.AutoStartSession = true;
    fx.Start();
    const std::string key = NewSessionKey();
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(fx.server.SessionStore().Count(), 1);
    EXPECT_TRUE(WaitFor([&] { return ended.load() == 1; }, 4000));
    EXPECT_EQ(fx.server.SessionStore().Count(), 0);
    // The stale key is unknown now: reported, and a new session replaces it.
    const std::string reply =
        Exchange(fx.port, "GET / HTTP/1.0\r\nCookie: HTTPSESSIONID=" + key + "\r\n\r\n");
    EXPECT_NE(reply.find("Set-Cookie: HTTPSESSIONID="), std::string::npos);
    std::lock_guard g(lock);
    EXPECT_EQ(invalid.size(), 1u);
}

TEST_F(SessionServerTest, DeactivationEndsEverySessionOnce) {
    fx.server.SetSessionState(true);
    fx.server.AutoStartSession = true;
    fx.Start();
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(NewSessionKey().empty());
    EXPECT_EQ(fx.server.SessionStore().Count(), 3);
    fx.server.SetActive(false);
    EXPECT_EQ(ended.load(), 3);
    EXPECT_EQ(fx.server.SessionStore().Count(), 0);
    fx.server.SetActive(true);
    fx.server.SetActive(false);
    EXPECT_EQ(ended.load(), 3);
}

TEST_F(SessionServerTest, WithoutSessionStateNoSessions) {
    fx.server.AutoStartSession = true; // no effect while SessionState is off
    fx.Start();
    EXPECT_EQ(
        Exchange(fx.port, "GET / HTTP/1.0\r\nCookie: HTTPSESSIONID=x\r\n\r\n").find("Set-Cookie"),
        std::string::npos);
    std::lock_guard g(lock);
    EXPECT_TRUE(invalid.empty());
    EXPECT_EQ(lastKey, "");
}

TEST(SessionLimits, KeysAreLongEnoughAndLiveSessionsAreCapped) {
    TNetHTTPDefaultSessionList list;
    list.MaxSessions = 3;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(list.NewUniqueSession("127.0.0.1")->SessionKey.size(), 22u);
    EXPECT_THROW(list.NewUniqueSession("127.0.0.1"), ENetHTTPTooManySessions);
    list.ClearSessions();
}
