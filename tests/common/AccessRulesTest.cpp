#include "common/AccessRules.h"

#include <gtest/gtest.h>

TEST(AccessRules, RangesMatchPeersOfBothFamilies) {
    const auto lan = TAddressRange::Parse("192.168.1.0/24");
    ASSERT_TRUE(lan);
    EXPECT_TRUE(lan->Contains("192.168.1.77:51000"));
    EXPECT_TRUE(lan->Contains("192.168.1.0"));
    EXPECT_FALSE(lan->Contains("192.168.2.1:80"));
    EXPECT_FALSE(lan->Contains("[::1]:80"));
    const auto one = TAddressRange::Parse("10.0.0.7");
    ASSERT_TRUE(one);
    EXPECT_TRUE(one->Contains("10.0.0.7:1"));
    EXPECT_FALSE(one->Contains("10.0.0.8:1"));
    const auto v6 = TAddressRange::Parse("fd00::/8");
    ASSERT_TRUE(v6);
    EXPECT_TRUE(v6->Contains("[fd12:3456::1]:8000"));
    EXPECT_FALSE(v6->Contains("[fe80::1]:8000"));
    EXPECT_TRUE(TAddressRange::Parse("0.0.0.0/0")->Contains("8.8.8.8:53"));
    for (const char* bad : {"", "/24", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/2x", "host.lan",
                            "10.0.0.0/-1", "::/129", "1.2.3.4/999999999999"})
        EXPECT_FALSE(TAddressRange::Parse(bad)) << bad;
}

TEST(AccessRules, DenyAndBlocksWinOverAllow) {
    TAddressRules rules;
    EXPECT_TRUE(rules.Admits("203.0.113.9:4000"));
    rules.Allow(*TAddressRange::Parse("192.168.0.0/16"));
    rules.Deny(*TAddressRange::Parse("192.168.5.0/24"));
    EXPECT_TRUE(rules.Admits("192.168.1.2:1"));
    EXPECT_FALSE(rules.Admits("192.168.5.2:1"));
    EXPECT_FALSE(rules.Admits("203.0.113.9:4000"));
    EXPECT_FALSE(rules.Admits("?")); // an unreadable peer is no member of any range
    rules.Block("192.168.1.2:50123");
    EXPECT_FALSE(rules.Admits("192.168.1.2:50999")); // the address, whatever its port
    rules.ClearBlocks();
    EXPECT_TRUE(rules.Admits("192.168.1.2:1"));
}

TEST(AccessRules, ElevenFailuresInAMinuteRefuseTheAddressForAMinute) {
    TFailedTries tries;
    const auto t0 = TFailedTries::Clock::now();
    for (int i = 0; i < 10; ++i)
        tries.Failed("198.51.100.4:" + std::to_string(4000 + i), t0 + std::chrono::seconds(i));
    EXPECT_FALSE(tries.Refused("198.51.100.4:9", t0 + std::chrono::seconds(10)));
    tries.Failed("198.51.100.4:9", t0 + std::chrono::seconds(11));
    EXPECT_TRUE(tries.Refused("198.51.100.4:10", t0 + std::chrono::seconds(12)));
    EXPECT_FALSE(tries.Refused("198.51.100.5:10", t0 + std::chrono::seconds(12)));
    EXPECT_FALSE(tries.Refused("198.51.100.4:10", t0 + std::chrono::seconds(72)));
    // Failures spread wider than the minute never add up to a refusal.
    TFailedTries slow;
    for (int i = 0; i < 30; ++i)
        slow.Failed("198.51.100.6:1", t0 + std::chrono::seconds(7 * i));
    EXPECT_FALSE(slow.Refused("198.51.100.6:1", t0 + std::chrono::seconds(7 * 30)));
}

TEST(AccessRules, SecretsCompareWhole) {
    EXPECT_TRUE(SameSecret("abc", "abc"));
    EXPECT_TRUE(SameSecret("", ""));
    EXPECT_FALSE(SameSecret("abc", "abd"));
    EXPECT_FALSE(SameSecret("abc", "ab"));
    EXPECT_FALSE(SameSecret("", "a"));
    EXPECT_FALSE(SameSecret(std::string("a\0b", 3), std::string("a\0c", 3)));
}
