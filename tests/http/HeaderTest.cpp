// Header lines, header records, cookies, Base64 and the authentication registry.
#include "http/NetAuthentication.h"
#include "http/NetCoderMIME.h"
#include "http/NetCookie.h"
#include "http/NetHTTPHeaderInfo.h"
#include "http/NetHeaderList.h"

#include <gtest/gtest.h>

TEST(HeaderList, UnfoldsContinuationLinesWithOneBlank) {
    TNetHeaderList h;
    h.Add("X-A: 1");
    h.Add(" 2");
    h.Add("\t 3 ");
    h.Add("Other: z");
    EXPECT_EQ(h.GetFieldValue("x-a"), "1 2 3");
    EXPECT_EQ(h.GetFieldValue("OTHER"), "z");
    h.UnfoldLines = false;
    EXPECT_EQ(h.GetFieldValue("x-a"), "1");
}

TEST(HeaderList, NamesAndMissingFields) {
    TNetHeaderList h;
    h.Add("Content-Type: text/plain");
    h.Add("no colon here");
    EXPECT_EQ(h.GetNameFromLine(h[0]), "CONTENT-TYPE");
    EXPECT_EQ(h.GetNameFromLine(h[1]), "");
    h.CaseSensitiveNames = true;
    EXPECT_EQ(h.GetNameFromLine(h[0]), "Content-Type");
    EXPECT_EQ(h.FieldIndex("content-type"), 0);
    EXPECT_EQ(h.FieldIndex("Host"), -1);
    EXPECT_EQ(h.GetFieldValue("Host"), "");
}

TEST(HeaderList, SetFieldValueReplacesInPlaceAndDeletes) {
    TNetHeaderList h;
    h.FoldLines = false;
    h.Add("A: 1");
    h.Add("B: 2");
    h.Add("C: 3");
    h.SetFieldValue("b", "two");
    EXPECT_EQ(h.Text(), "A: 1\r\nb: two\r\nC: 3\r\n");
    h.SetFieldValue("D", "4");
    EXPECT_EQ(h[3], "D: 4");
    h.SetFieldValue("A", "");
    EXPECT_EQ(h.Text(), "b: two\r\nC: 3\r\nD: 4\r\n");
}

TEST(HeaderList, FoldingCutsOutsideQuotesAndRoundTrips) {
    TNetHeaderList h;
    h.FoldLength = 20;
    const std::string value = "alpha beta gamma delta \"quoted, not cut here\" epsilon,zeta";
    h.Add("Before: x");
    h.SetFieldValue("Long", value);
    h.Add("After: y");
    ASSERT_GT(h.Count(), 3);
    for (int i = 2; i < h.Count() - 1; ++i)
        EXPECT_EQ(h[i][0], ' ') << h[i];
    bool quotedKept = false;
    for (const auto& line : h)
        quotedKept |= line.find("\"quoted, not cut here\"") != std::string::npos;
    EXPECT_TRUE(quotedKept);
    EXPECT_EQ(h.GetFieldValue("Long"), value);
    // Replacing a folded field removes all its continuation lines.
    h.SetFieldValue("Long", "short");
    EXPECT_EQ(h.Text(), "Before: x\r\nLong: short\r\nAfter: y\r\n");
    h.SetFieldValue("Long", "");
    EXPECT_EQ(h.Text(), "Before: x\r\nAfter: y\r\n");
}

TEST(HeaderList, ExtractValuesInOrder) {
    TNetHeaderList h;
    h.Add("Cookie: a=1");
    h.Add("Host: x");
    h.Add("cookie: b=2");
    h.Add(" c=3");
    TStringList values;
    h.ExtractValues("COOKIE", values);
    ASSERT_EQ(values.Count(), 2);
    EXPECT_EQ(values[0], "a=1");
    EXPECT_EQ(values[1], "b=2 c=3");
}

TEST(HeaderRecords, RequestFieldsFromLines) {
    TNetRequestHeaderInfo r;
    r.HeaderLines.Add("Host: example");
    r.HeaderLines.Add("User-Agent: test/1");
    r.HeaderLines.Add("Range: bytes=10-20 ");
    r.HeaderLines.Add("Content-Length:  42 ");
    r.HeaderLines.Add("Connection: Keep-Alive");
    r.HeaderLines.Add("Date: Sun, 06 Nov 1994 08:49:37 GMT");
    r.ParseHeaderLines();
    EXPECT_EQ(r.Host, "example");
    EXPECT_EQ(r.UserAgent, "test/1");
    EXPECT_EQ(r.ContentRangeStart, 10);
    EXPECT_EQ(r.ContentRangeEnd, 20);
    EXPECT_EQ(r.ContentLength, 42);
    EXPECT_TRUE(r.HasContentLength());
    EXPECT_EQ(r.Connection, "Keep-Alive");
    EXPECT_GT(r.Date, 0);

    TNetRequestHeaderInfo bad;
    bad.HeaderLines.Add("Content-Length: abc");
    bad.ParseHeaderLines();
    EXPECT_EQ(bad.ContentLength, -1);
    EXPECT_FALSE(bad.HasContentLength());
}

TEST(HeaderRecords, ExpiresInSecondsBelowOneDayOnly) {
    TNetRequestHeaderInfo r;
    r.HeaderLines.Add("Expires: 60");
    const TDateTime before = Now();
    r.ParseHeaderLines();
    EXPECT_NEAR((r.Expires - before) * 86400.0, 60.0, 2.0);

    TNetRequestHeaderInfo day;
    day.HeaderLines.Add("Expires: 86400");
    EXPECT_THROW(day.ParseHeaderLines(), Exception);
}

TEST(HeaderRecords, ResponseBuildOrder) {
    TNetResponseHeaderInfo r;
    r.HeaderLines.FoldLines = false;
    r.Connection = "close";
    r.ContentLength = 5;
    r.CacheControl = "no-cache";
    r.Pragma = "no-cache";
    r.CustomHeaders.Add("X-Custom: 1");
    r.Server = "srv";
    r.Location = "/elsewhere";
    r.BuildHeaderLines();
    EXPECT_EQ(r.HeaderLines.Text(),
              "Connection: close\r\nContent-Type: text/html\r\nContent-Length: 5\r\n"
              "Cache-control: no-cache\r\nPragma: no-cache\r\nX-Custom: 1\r\nServer: srv\r\n"
              "Location: /elsewhere\r\n");
}

TEST(Cookies, ParseNameValueAndAttributes) {
    TNetCookieRFC2109 c;
    c.ParseCookieText("a=1; Path=\"/x\"; secure");
    EXPECT_EQ(c.CookieName, "a");
    EXPECT_EQ(c.CookieValue, "1");
    EXPECT_EQ(c.CookiePath, "/x");
    EXPECT_TRUE(c.CookieSecure);
    EXPECT_EQ(c.CookieText(), "a=1; Path=\"/x\"; secure");

    TNetCookieRFC2109 noEq;
    noEq.ParseCookieText("justtext");
    EXPECT_EQ(noEq.CookieName, "");

    TNetCookieRFC2109 rfc;
    rfc.ParseCookieText("s=v; Max-Age=30; Version=1; Comment=hi; Domain=example.org");
    EXPECT_EQ(rfc.CookieMaxAge, 30);
    EXPECT_EQ(rfc.CookieVersion, "1");
    EXPECT_EQ(rfc.CookieComment, "hi");
    EXPECT_EQ(rfc.CookieDomain, "example.org");
    EXPECT_FALSE(rfc.CookieExpires.empty()); // derived from max-age
}

TEST(Cookies, ServerCookieFormats) {
    TNetServerCookie c;
    c.CookieName = "HTTPSESSIONID";
    c.CookieValue = "K";
    c.CookiePath = "/";
    EXPECT_EQ(c.FormatServerCookie(), "HTTPSESSIONID=K; path=/");

    TNetServerCookie aged;
    aged.CookieName = "n";
    aged.CookieValue = "v";
    aged.CookieMaxAge = 3600;
    aged.CookieSecure = true;
    const std::string text = aged.FormatServerCookie();
    EXPECT_EQ(text.rfind("n=v; expires=", 0), 0u) << text;
    EXPECT_NE(text.find(" GMT; secure"), std::string::npos) << text;
    EXPECT_NE(text.find('-'), std::string::npos) << text; // dd-Mon-yyyy

    TNetServerCookie empty;
    empty.CookieName = "gone";
    EXPECT_EQ(empty.FormatServerCookie(), "");
}

TEST(Cookies, CollectionFindsByNameIgnoringCase) {
    TNetServerCookies list;
    list.AddCookie("a=1");
    list.AddCookie("B=2");
    list.AddCookie("a=3");
    EXPECT_EQ(list.FindCookie(0, "A"), 0);
    EXPECT_EQ(list.FindCookie(1, "a"), 2);
    EXPECT_EQ(list.FindCookie(0, "b"), 1);
    EXPECT_EQ(list.FindCookie(0, "c"), -1);
    list.Delete(0);
    EXPECT_EQ(list.FindCookie(0, "a"), 1);
}

TEST(Base64, RoundTripAndPadding) {
    EXPECT_EQ(EncodeBase64Text(""), "");
    EXPECT_EQ(EncodeBase64Text("f"), "Zg==");
    EXPECT_EQ(EncodeBase64Text("fo"), "Zm8=");
    EXPECT_EQ(EncodeBase64Text("foo"), "Zm9v");
    EXPECT_EQ(EncodeBase64Text("user:pass"), "dXNlcjpwYXNz");
    EXPECT_EQ(DecodeBase64Text("Zg=="), "f");
    EXPECT_EQ(DecodeBase64Text("Zm8="), "fo");
    EXPECT_EQ(DecodeBase64Text("dXNlcjpwYXNz"), "user:pass");
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(DecodeBase64Text(EncodeBase64Text(all)), all);
}

TEST(Base64, UnevenSizeRaisesAndForeignCharactersStayInBounds) {
    try {
        DecodeBase64Text("abcde");
        FAIL() << "no exception";
    } catch (const ENetException& e) {
        EXPECT_EQ(e.Message(), "Uneven size in DecodeToStream.");
    }
    // Bytes outside the alphabet give meaningless bits, never a fault.
    EXPECT_EQ(DecodeBase64Text(std::string("\xff\x00!*", 4)).size(), 3u);
}

TEST(Authentication, BasicIsRegisteredAndAnswers) {
    auto basic = FindAuthenticationMethod("basic");
    ASSERT_NE(basic, nullptr);
    basic->ReadChallenge("realm=\"kavaro\"");
    EXPECT_EQ(static_cast<TNetBasicAuthentication&>(*basic).Realm, "kavaro");
    basic->Username = "user";
    basic->Password = "pass";
    EXPECT_EQ(basic->Authentication(), "Basic dXNlcjpwYXNz");
    EXPECT_EQ(FindAuthenticationMethod("Digest"), nullptr);
}

TEST(Authentication, RegisteringTwiceRaises) {
    try {
        RegisterAuthenticationMethod("Basic", "TOther",
                                     [] { return std::make_unique<TNetBasicAuthentication>(); });
        FAIL() << "no exception";
    } catch (const ENetAlreadyRegisteredAuthenticationMethod& e) {
        EXPECT_EQ(e.Message(), "This authentication method is already registered with class name "
                               "TNetBasicAuthentication.");
    }
    RegisterAuthenticationMethod("Test", "TTest",
                                 [] { return std::make_unique<TNetBasicAuthentication>(); });
    EXPECT_NE(FindAuthenticationMethod("TEST"), nullptr);
    UnregisterAuthenticationMethod("test");
    EXPECT_EQ(FindAuthenticationMethod("Test"), nullptr);
}
