#include "net/NetGlobal.h"

#include "common/Text.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Sets TZ for one test and puts the previous value back.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> old_;
};

constexpr double kHour = 1.0 / 24;
constexpr double kTolerance = 1.0 / 86400000; // one millisecond

TDateTime Instant() {
    return EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37, 0);
}

TDateTime Parse(std::string text) {
    return InternetTextToDateTime(text);
}

// A temporary file removed at the end of the test.
class TempFile {
  public:
    explicit TempFile(const std::string& content) {
        char name[] = "/tmp/kx_netglobal_XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path_ = name;
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() { unlink(path_.c_str()); }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

} // namespace

// --- dates and zones -------------------------------------------------------

TEST(NetGlobalDates, WritesTheValueUnchangedWithTheMachineZone) {
    {
        ScopedTimeZone tz("CET-1"); // one hour east of UTC
        EXPECT_EQ(DateTimeToInternetText(false, Instant()), "Sun, 6 Nov 1994 08:49:37 +0100");
        EXPECT_NEAR(UtcOffset(), kHour, kTolerance);
        EXPECT_NEAR(TimeZoneBias(), -60.0 / 1440, kTolerance);
    }
    {
        ScopedTimeZone tz("UTC0");
        EXPECT_EQ(DateTimeToInternetText(false, Instant()), "Sun, 6 Nov 1994 08:49:37 +0000");
        EXPECT_EQ(DateTimeToInternetText(true, Instant()), "Sun, 6 Nov 1994 08:49:37 GMT");
    }
    {
        ScopedTimeZone tz("NPT-5:45");
        EXPECT_EQ(DateTimeToInternetText(false, EncodeDate(2001, 1, 31)),
                  "Wed, 31 Jan 2001 00:00:00 +0545");
    }
    {
        ScopedTimeZone tz("EST5");
        EXPECT_EQ(DateTimeToInternetText(true, Instant()), "Sun, 6 Nov 1994 08:49:37 -0500");
        EXPECT_NEAR(TimeZoneBias(), 300.0 / 1440, kTolerance);
    }
    EXPECT_EQ(HttpDateText(Instant()), "Sun, 06 Nov 1994 08:49:37 GMT");
    // Before day 0 the time of day counts away from the date.
    EXPECT_EQ(HttpDateText(EncodeDate(999, 1, 2) - EncodeTime(23, 0, 5, 0)),
              "Wed, 02 Jan 0999 23:00:05 GMT");
    // Values outside the calendar are written as day 0, not fed to the date
    // arithmetic.
    EXPECT_EQ(HttpDateText(1e300), "Sat, 30 Dec 1899 00:00:00 GMT");
    EXPECT_EQ(HttpDateText(std::nan("")), "Sat, 30 Dec 1899 00:00:00 GMT");
}

TEST(NetGlobalDates, ZoneTextsRoundTripAndBadZonesReadAsZero) {
    EXPECT_EQ(ZoneOffsetText(true, 0), "GMT");
    EXPECT_EQ(ZoneOffsetText(false, 0), "+0000");
    EXPECT_EQ(ZoneOffsetText(true, kHour), "+0100");
    EXPECT_EQ(ZoneOffsetText(false, -5.5 * kHour), "-0530");

    EXPECT_NEAR(ZoneTextToOffset("+0100"), kHour, kTolerance);
    EXPECT_NEAR(ZoneTextToOffset("  -0530 (EST)"), -5.5 * kHour, kTolerance);
    EXPECT_NEAR(ZoneTextToOffset("+010"), kHour, kTolerance); // minutes "0"
    for (const char* bad : {"", "GMT", "+01", "+2400", "+0160", "+01x0", "0100", "-", "++0100"})
        EXPECT_EQ(ZoneTextToOffset(bad), 0) << bad;
}

TEST(NetGlobalDates, ReadsTheThreeCommonFormsAsTheSameInstant) {
    ScopedTimeZone tz("CET-1");
    const TDateTime local = Instant() + kHour;
    for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                             "Sun Nov  6 08:49:37 1994", "Sun,06 Nov 1994 08:49:37 GMT",
                             "  sun, 06 NOV 1994 08:49:37 UT  ", "Sun, 06 Nov 1994 09:49:37 +0100"})
        EXPECT_NEAR(GMTTextToLocalDateTime(text), local, kTolerance) << text;
}

TEST(NetGlobalDates, ZoneIsAppliedBeforeTheLocalOffset) {
    ScopedTimeZone tz("CET-1");
    // 08:49:37 at -0500 is 13:49:37 UTC, 14:49:37 one hour east of it.
    EXPECT_NEAR(GMTTextToLocalDateTime("Sun, 06 Nov 1994 08:49:37 -0500"), Instant() + 6 * kHour,
                kTolerance);
    std::string text = "Sun, 06 Nov 1994 08:49:37   -0500";
    EXPECT_NEAR(InternetTextToDateTime(text), Instant(), kTolerance);
    EXPECT_EQ(text, "-0500");
}

TEST(NetGlobalDates, TwoDigitYearsMissingPartsAndMalformedDates) {
    EXPECT_EQ(Parse("06 Nov 79"), EncodeDate(2079, 11, 6));
    EXPECT_EQ(Parse("06 Nov 80"), EncodeDate(1980, 11, 6));
    EXPECT_EQ(Parse("1-Jan-00 00:00:00"), EncodeDate(2000, 1, 1));
    EXPECT_EQ(Parse("06 Nov 999"), EncodeDate(999, 11, 6));
    // A missing year is 1900, a day that is no number 1, missing time parts 0.
    EXPECT_EQ(Parse("6 Nov"), EncodeDate(1900, 11, 6));
    EXPECT_EQ(Parse("xx Nov 1994"), EncodeDate(1994, 11, 1));
    EXPECT_EQ(Parse("Nov"), EncodeDate(1900, 11, 1));
    EXPECT_EQ(Parse("06 Nov 1994 :::::"), EncodeDate(1994, 11, 6));
    EXPECT_NEAR(Parse("06 Nov 1994 08:49"), EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 0, 0),
                kTolerance);
    // Before day 0 the time counts away from the date, as the day numbers do.
    int h, mi, s, ms;
    DecodeTime(Parse("01 Jan 1800 06:00:00"), h, mi, s, ms);
    EXPECT_EQ(h, 6);

    for (const char* bad :
         {"", "   ", "garbage", "Sun", "Sun,", "Sunday,", "-", "--", "06 Foo 1994", "32 Nov 1994",
          "29 Feb 1900", "06 Nov 1994 24:00:00", "06 Nov 1994 08:60:00", "06 Nov 10000",
          "06 Nov 99999999999999999999", "99999999999999999999 Nov 1994", ":", "06-Nov"}) {
        EXPECT_EQ(Parse(bad), 0) << bad;
        EXPECT_EQ(GMTTextToLocalDateTime(bad), 0) << bad;
    }
}

// --- tokens and addresses --------------------------------------------------

TEST(NetGlobalTokens, FetchTokenTakesTheFrontAndKeepsTheRest) {
    std::string s = "GET /a b HTTP/1.0";
    EXPECT_EQ(FetchToken(s), "GET");
    EXPECT_EQ(s, "/a b HTTP/1.0");
    EXPECT_EQ(FetchToken(s, " ", false), "/a");
    EXPECT_EQ(s, "/a b HTTP/1.0");
    s = "line1\r\nline2";
    EXPECT_EQ(FetchToken(s, "\r\n"), "line1");
    EXPECT_EQ(s, "line2");
    EXPECT_EQ(FetchToken(s, "\r\n"), "line2");
    EXPECT_EQ(s, "");
    s = "abc";
    EXPECT_EQ(FetchToken(s, ""), "abc"); // an empty delimiter is never found
    EXPECT_EQ(s, "");

    s = "Name AND value";
    EXPECT_EQ(FetchToken(s, "and"), "Name AND value"); // case-sensitive by default
    s = "Name AND value";
    EXPECT_EQ(FetchToken(s, "and", true, false), "Name ");
    EXPECT_EQ(s, " value");
    s = "xY";
    EXPECT_EQ(FetchTokenCaseInsensitive(s, "y", false), "x");
    EXPECT_EQ(s, "xY");
}

TEST(NetGlobalTokens, RPosSearchesBackwardsFromStart) {
    EXPECT_EQ(RPos("a", "banana"), 6u);
    EXPECT_EQ(RPos("NA", "banana"), 5u);
    EXPECT_EQ(RPos("ana", "banana", 3), 2u);
    EXPECT_EQ(RPos("ana", "banana", 100), 4u);
    EXPECT_EQ(RPos("a", "banana", 1), 0u);
    EXPECT_EQ(RPos("a", "banana", 0), 0u);
    EXPECT_EQ(RPos("x", "banana"), 0u);
    EXPECT_EQ(RPos("", "banana"), 0u);
    EXPECT_EQ(RPos("bananas", "banana"), 0u);
}

TEST(NetGlobalTokens, AddressAndHostNameTests) {
    for (const char* ok : {"127.0.0.1", " 10.0.0.255 ", "0.0.0.0", "1.2.3.4.whatever"})
        EXPECT_TRUE(IsValidIP(ok)) << ok;
    for (const char* bad : {"", "1.2.3", "1.2.3.256", "1..3.4", "a.b.c.d", "$FF.0.0.1", "-1.0.0.1",
                            "1.2.3.", "999999999999.1.1.1"})
        EXPECT_FALSE(IsValidIP(bad)) << bad;
    EXPECT_TRUE(IsHostname("www.example.com"));
    EXPECT_FALSE(IsHostname(".example.com"));
    EXPECT_FALSE(IsHostname("10.0.0.1"));
    EXPECT_FALSE(IsHostname(""));
    EXPECT_EQ(DomainName("www.example.com"), ".example.com");
    EXPECT_EQ(DomainName("localhost"), "localhost");
}

TEST(NetGlobalTokens, FileSizeOfReadsTheSizeOrRaises) {
    TempFile f(std::string(1234, 'x'));
    EXPECT_EQ(FileSizeOf(f.Path()), 1234);
    try {
        FileSizeOf("/nonexistent/kx/file");
        FAIL() << "no exception";
    } catch (const ENetException& e) {
        EXPECT_EQ(Pos("Cannot open file \"/nonexistent/kx/file\".", e.Message()), 1u)
            << e.Message();
    }
}

// --- MIME table ------------------------------------------------------------

TEST(NetMimeTable, BuiltInTableFirstLineOfAnExtensionWins) {
    const auto& lines = TNetMimeTable::BuiltInLines();
    ASSERT_EQ(lines.size(), 136u);
    EXPECT_EQ(lines.front(), ".aiff=audio/aiff");
    EXPECT_EQ(lines.back(), ".sgml=text/sgml");

    TNetMimeTable table(false);
    table.SetSystemTypesFile("");
    EXPECT_EQ(table.Count(), 0);
    EXPECT_EQ(table.MimeTypeOfFile("/www/INDEX.HTM"), "text/html"); // builds on the first miss
    EXPECT_EQ(table.Count(), 134);                                  // .xbm and .xml twice
    EXPECT_EQ(table.MimeTypeOfFile("a.xbm"), "image/xbm");
    EXPECT_EQ(table.MimeTypeOfFile("a.png"), "image/x-png");
    EXPECT_EQ(table.MimeTypeOfFile("a.asx"), "video/x-ms-asf-plugin");
    EXPECT_EQ(table.MimeTypeOfFile("a.shtml"), "server-parsed-html");
    EXPECT_EQ(table.MimeTypeOfFile("/dir.htm/README"), "application/octet-stream");

    TNetMimeTable system; // built-in table plus the machine's own list, if any
    EXPECT_GE(system.Count(), 134);
    EXPECT_EQ(system.MimeTypeOfFile("index.html"), "text/html");
}

TEST(NetMimeTable, SystemPairsReplaceBuiltInOnes) {
    TempFile types("# comment line\n"
                   "\n"
                   "image/png\t\t\tpng PNG\n"
                   "text/x-lonely\n"
                   "text/x-foo foo bar # trailing comment ignored\n"
                   "application/x-eq a=b good\n"
                   "   \t  \r\n"
                   "text/x-last last"); // no final line break
    TNetMimeTable table(false);
    table.SetSystemTypesFile(types.Path());
    table.BuildCache();
    EXPECT_EQ(table.MimeTypeOfFile("x.png"), "image/png");
    EXPECT_EQ(table.MimeTypeOfFile("x.bar"), "text/x-foo");
    EXPECT_EQ(table.MimeTypeOfFile("x.good"), "application/x-eq");
    EXPECT_EQ(table.MimeTypeOfFile("x.last"), "text/x-last");
    EXPECT_EQ(table.MimeTypeOfFile("x.htm"), "text/html");
    EXPECT_EQ(table.MimeTypeOfFile("x.comment"), "application/octet-stream");
    EXPECT_EQ(table.Count(), 134 + 4); // foo, bar, good, last are new; png replaced

    TNetMimeTable missing(false);
    missing.SetSystemTypesFile("/nonexistent/mime.types");
    EXPECT_EQ(missing.MimeTypeOfFile("x.png"), "image/x-png");
}

TEST(NetMimeTable, UnknownNamesRebuildOnceThenFallBack) {
    TNetMimeTable table(false);
    int builds = 0;
    table.OnBuildCache = [&](TNetMimeTable& t) {
        ++builds;
        if (t.Count() == 0) t.AddMimeType("TXT", "Text/Plain");
    };
    EXPECT_EQ(table.MimeTypeOfFile("readme"), "application/octet-stream");
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(table.MimeTypeOfFile("NOTES.Txt"), "text/plain");
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(table.MimeTypeOfFile("x.zip"), "application/octet-stream");
    EXPECT_EQ(builds, 2);
}

TEST(NetMimeTable, AdditionsAndLoadsRaiseTheFixedTexts) {
    TNetMimeTable table(false);
    auto message = [&](const char* ext, const char* type) {
        try {
            table.AddMimeType(ext, type);
        } catch (const ENetException& e) {
            return e.Message();
        }
        return std::string();
    };
    EXPECT_EQ(message("", "text/plain"), "Extension is empty");
    EXPECT_EQ(message("txt", ""), "Mimetype is empty");
    EXPECT_EQ(message("txt", "text/plain"), "");
    EXPECT_EQ(message(".TXT", "text/x"), "Extension already exits");

    TStringList lines;
    for (const char* l : {"htm:text/html", ":skipped/empty", "HTM:text/dup", "css:text/css"})
        lines.Add(l);
    table.LoadFromStrings(lines, ':');
    EXPECT_EQ(table.Extensions(), (std::vector<std::string>{".htm", ".css"}));
    EXPECT_EQ(table.MimeTypes(), (std::vector<std::string>{"text/html", "text/css"}));
    lines.Add("notype");
    try {
        table.LoadFromStrings(lines, ':');
        FAIL() << "no exception";
    } catch (const ENetException& e) {
        EXPECT_EQ(e.Message(), "Mimetype is empty");
    }
}

TEST(NetMimeTable, ConcurrentLookupsOnALazilyBuiltTable) {
    TNetMimeTable table(false);
    table.SetSystemTypesFile("");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int n = 0; n < 200; ++n) {
                if (table.MimeTypeOfFile("a.css") != "text/css") ++wrong;
                if (table.MimeTypeOfFile("a.nothing") != "application/octet-stream") ++wrong;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}
