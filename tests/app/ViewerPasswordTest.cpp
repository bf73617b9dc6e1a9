#include "app/ViewerPassword.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ViewerPassword, OnlyTheRightPasswordAndTokenPass) {
    const std::string hash = HashViewerPassword("cl\xC3\xA4ssroom 7");
    EXPECT_EQ(0u, hash.find("pbkdf2-sha256$100000$"));
    EXPECT_EQ(std::string::npos, hash.find("ssroom"));
    EXPECT_TRUE(ViewerPasswordMatches("cl\xC3\xA4ssroom 7", hash));
    for (const std::string& wrong :
         std::vector<std::string>{"classroom 7", "cl\xC3\xA4ssroom", "", "cl\xC3\xA4ssroom 77",
                                  std::string(100000, 'x')})
        EXPECT_FALSE(ViewerPasswordMatches(wrong, hash)) << wrong.substr(0, 20);

    const std::string token = ViewerAccessToken(hash);
    EXPECT_EQ(43u, token.size());
    EXPECT_EQ(std::string::npos,
              token.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"));
    EXPECT_TRUE(ViewerTokenMatches(token, hash));
    EXPECT_FALSE(ViewerTokenMatches(token.substr(0, 42), hash));
    EXPECT_FALSE(ViewerTokenMatches(token + "A", hash));
    EXPECT_FALSE(ViewerTokenMatches("", hash));
    EXPECT_FALSE(ViewerTokenMatches(std::string(1 << 20, 'A'), hash));
    // The same password again: another salt, so another link.
    const std::string again = HashViewerPassword("cl\xC3\xA4ssroom 7");
    EXPECT_NE(hash, again);
    EXPECT_FALSE(ViewerTokenMatches(token, again));
    // An empty password is a password like any other.
    EXPECT_TRUE(ViewerPasswordMatches("", HashViewerPassword("")));
}

TEST(ViewerPassword, MalformedHashesLetNobodyIn) {
    const std::string good = HashViewerPassword("pw");
    const std::string truncated = good.substr(0, good.size() - 5);
    for (const std::string& bad : std::vector<std::string>{
             std::string(), std::string("pw"), truncated, "md5$1$abc$def",
             "pbkdf2-sha256$1$c2FsdHNhbHQ=$" + good.substr(good.rfind('$') + 1),
             "pbkdf2-sha256$999999999999$c2FsdHNhbHQ=$AAAA", "pbkdf2-sha256$100000$!!$??"}) {
        EXPECT_FALSE(ViewerPasswordMatches("pw", bad)) << bad;
        EXPECT_EQ("", ViewerAccessToken(bad)) << bad;
        EXPECT_FALSE(ViewerTokenMatches("", bad)) << bad;
    }
}
