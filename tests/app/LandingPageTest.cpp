// The landing page, byte for byte, and the copy the peer threads read.
#include "app/LandingPage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// The page for the given values, written out piece by piece.
std::string Expected(const std::string& w, const std::string& h, const std::string& url) {
    return "<style type=text/css><!--a:link    {color: orange; text-decoration:none}"
           "a:visited {color: orange; text-decoration:none}a:hover   {color: red; "
           "text-decoration:underline}"
           "--></style>"
           "<html><head><title>[kavaroXP media streamer]</title></head><body><font "
           "face=\"verdana\" size=1>\r"
           "<CENTER><b><u>[kavaroXP media streamer]</u></b><br><br><table width=320 height=240 "
           "border=1 "
           "bordercolor=\"black\" cellpadding=0 cellspacing=0><tr><td>\r"
           "<OBJECT\r ID=\"Video\"\r WIDTH=\"" +
           w + "\"\r HEIGHT=\"" + h +
           "\"\r"
           " CODEBASE=\"nsmp2inf.cab#Version=5,1,52,0701\"\r"
           " CLASSID=\"CLSID:22D6F312-B0F6-11D0-94AB-0080C74C7E95\"\r"
           " STANDBY=\"Loading Windows Media Player components...\"\r"
           " TYPE=\"application/x-oleobject\">\r"
           " <PARAM NAME=\"FileName\" VALUE=\"" +
           url +
           "\">\r"
           " <PARAM NAME=\"ShowControls\" VALUE=\"1\">\r"
           " <PARAM NAME=\"ShowStatusBar\" VALUE=\"1\">\r"
           " <PARAM NAME=\"ShowDisplay\" VALUE=\"0\">\r"
           " <PARAM NAME=\"AnimationAtStart\" VALUE=\"0\">\r"
           " <PARAM NAME=\"TransparentAtStart\" VALUE=\"0\">\r"
           " <PARAM NAME=\"AutoStart\" VALUE=\"1\">\r"
           " <PARAM NAME=\"AllowChangeDisplaySize\" VALUE=\"0\">\r"
           "\r"
           " <EMBED\r  TYPE=\"application/x-mplayer2\"\r"
           "  PLUGINSPAGE=\"about:blank\"\r"
           "  SRC=\"\"\r  NAME=\"Video\"\r  WIDTH=\"" +
           w + "\"\r  HEIGHT=\"" + h +
           "\"\r"
           "  ShowControls=\"1\"\r  ShowStatusBar=\"1\"\r  ShowDisplay=\"0\"\r  "
           "AnimationAtStart=\"1\"\r"
           "  TransparentAtStart=\"0\"\r  AutoStart=\"1\"\r  AllowChangeDisplaySize=\"0\">\r"
           " </EMBED>\r</OBJECT>\r</td></tr></table>\r"
           "<br><br>to put this on your own site select view source and grab the requiered code "
           ":)\r"
           "<br><br>powered by kavaroXP\r"
           "<table width=\"88\" height=\"31\" border=1 cellpadding=0 cellspacing=0 "
           "bordercolor=\"black\"><tr><td>"
           "<a href=\"\" target=\"_blank\"><img border=\"0\" src=\"/banners/quillon.gif\"></a>"
           "</td></tr></table><br>\r"
           "</CENTER></font></body></html>";
}

TEST(LandingPage, ByteForByteWithCarriageReturnsOnly) {
    const std::string page = BuildLandingPage({"320", "300", 8000, "192.168.1.5"});
    EXPECT_EQ(page, Expected("320", "300", "mms://192.168.1.5:8000/"));
    EXPECT_EQ(page.find('\n'), std::string::npos);
}

TEST(LandingPage, InvalidNumbersFallBackAndAddressIsUsedAsIs) {
    EXPECT_EQ(BuildLandingPage({"abc", "", 8000, ""}), Expected("320", "300", "mms://:8000/"));
    EXPECT_EQ(BuildLandingPage({"640", "-5", 8123, " host name "}),
              Expected("640", "-5", "mms:// host name :8123/"));
    // Numbers are written back in decimal.
    EXPECT_EQ(BuildLandingPage({"$10", "0x20", 7, "a"}), Expected("16", "32", "mms://a:7/"));
}

TEST(LandingPageSource, ReadersAlwaysSeeOneOfTheWrittenTexts) {
    TLandingPageSource source;
    source.SetWidth("100");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([&] {
            while (!stop) {
                const std::string w = source.Snapshot().Width;
                if (w != "100" && w != "2000000") ++bad;
            }
        });
    for (int i = 0; i < 20000; ++i)
        source.SetWidth(i % 2 ? "2000000" : "100");
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(bad, 0);
}

} // namespace
