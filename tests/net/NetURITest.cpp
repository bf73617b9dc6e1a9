#include "net/NetURI.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
// Every part in one text, so that a failure shows the whole split.
std::string Parts(const TNetURI& u) {
    return u.Protocol() + "|" + u.Username() + "|" + u.Password() + "|" + u.Host() + "|" +
           u.Port() + "|" + u.Path() + "|" + u.Document() + "|" + u.Params() + "|" + u.Bookmark();
}
} // namespace

TEST(NetURI, SplitsAFullURI) {
    TNetURI u("http://user:pw@example.com:8080/dir/sub/doc.html?a=1&b=2#frag");
    EXPECT_EQ(Parts(u), "http|user|pw|example.com|8080|/dir/sub/|doc.html|?a=1&b=2|frag");
    u.SetURI("mms://10.0.0.1:8000/");
    EXPECT_EQ(Parts(u), "mms|||10.0.0.1|8000|/|||");
    u.SetURI("http://host/doc.htm#top");
    EXPECT_EQ(Parts(u), "http|||host||/|doc.htm||top");
    u.SetURI("ftp://:secret@host/");
    EXPECT_EQ(Parts(u), "ftp|||host||/|||"); // no user, so no password either
}

TEST(NetURI, RequestTargetsWithoutProtocol) {
    TNetURI u("/dir/doc.html?x=%20y");
    EXPECT_EQ(Parts(u), "|||||/dir/|doc.html|?x=%20y|");
    u.SetURI("/");
    EXPECT_EQ(Parts(u), "|||||/|||");
    u.SetURI("\\dir\\file.txt");
    EXPECT_EQ(u.URI(), "/dir/file.txt");
    EXPECT_EQ(Parts(u), "|||||/dir/|file.txt||");
    // Without "?" the first "=" starts the parameters; a "/" after it is theirs.
    u.SetURI("doc=1/x");
    EXPECT_EQ(Parts(u), "||||||doc|=1/x|");
    u.SetURI("/a/b?q/r#s");
    EXPECT_EQ(Parts(u), "|||||/a/|b|?q/r|s");
}

TEST(NetURI, HostEndsAtQueryOrFragment) {
    TNetURI u("http://host?x=1");
    EXPECT_EQ(Parts(u), "http|||host||/||?x=1|");
    u.SetURI("http://host#f");
    EXPECT_EQ(Parts(u), "http|||host||/|||f");
    u.SetURI("http://host");
    EXPECT_EQ(Parts(u), "http|||host||/|||");
}

TEST(NetURI, MalformedTextsGiveEmptyParts) {
    TNetURI u("http://user:pw@host/");
    u.SetURI(""); // a new split clears what the last one found
    EXPECT_EQ(Parts(u), "||||||||");
    for (const char* text : {"://", "http://", "@", "http://@:", "?", "#", "=", "a://b@c@d:e:f/g",
                             "http://[::1]:80/x", "%", "//"}) {
        u.SetURI(text);
        EXPECT_EQ(u.URI(), text);
    }
    u.SetURI("http://@:");
    EXPECT_EQ(Parts(u), "http|||||/|||");
    u.SetURI("a://b@c@d:e:f/g");
    EXPECT_EQ(Parts(u), "a|b||c@d|e:f|/|g||");
}

TEST(NetURI, URLDecode) {
    EXPECT_EQ(TNetURI::URLDecode("a%20b"), "a b");
    EXPECT_EQ(TNetURI::URLDecode("%41%62%ff"), "Ab\xff");
    EXPECT_EQ(TNetURI::URLDecode("a+b"), "a+b");
    // Invalid escapes and %00 drop the "%" and the two characters after it.
    EXPECT_EQ(TNetURI::URLDecode("a%zzb"), "ab");
    EXPECT_EQ(TNetURI::URLDecode("a%4gb"), "ab");
    EXPECT_EQ(TNetURI::URLDecode("x%00y"), "xy");
    // Escapes cut off by the end of the text go too; nothing is read past it.
    EXPECT_EQ(TNetURI::URLDecode("abc%"), "abc");
    EXPECT_EQ(TNetURI::URLDecode("abc%4"), "abc");
    EXPECT_EQ(TNetURI::URLDecode(std::string_view("ab%41", 4)), "ab");
    EXPECT_EQ(TNetURI::URLDecode(""), "");
}
