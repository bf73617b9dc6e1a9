#include "app/LandingPage.h"

#include "common/Text.h"

const char* const kPlayerCabinetAddress = "nsmp2inf.cab#Version=5,1,52,0701";
const char* const kPlayerDownloadAddress = "about:blank";
const char* const kSiteAddress = "";

std::string BuildLandingPage(const TLandingPageTexts& texts) {
    const std::string width = IntToStr(StrToIntDef(texts.Width, kDefaultPlayerWidth));
    const std::string height = IntToStr(StrToIntDef(texts.Height, kDefaultPlayerHeight));
    const std::string port = IntToStr(texts.StreamPort);
    const std::string site = kSiteAddress;
    const char CR = '\r';

    std::string p;
    p.reserve(2400);
    // The style block has no line ends of its own.
    p += "<style type=text/css>";
    p += "<!--";
    p += "a:link    {color: orange; text-decoration:none}";
    p += "a:visited {color: orange; text-decoration:none}";
    p += "a:hover   {color: red; text-decoration:underline}";
    p += "-->";
    p += "</style>";
    auto line = [&](const std::string& s) {
        p += s;
        p += CR;
    };
    line("<html><head><title>[kavaroXP media streamer]</title></head><body><font face=\"verdana\" "
         "size=1>");
    line("<CENTER><b><u>[kavaroXP media streamer]</u></b><br><br><table width=320 height=240 "
         "border=1 "
         "bordercolor=\"black\" cellpadding=0 cellspacing=0><tr><td>");
    line("<OBJECT");
    line(" ID=\"Video\"");
    line(" WIDTH=\"" + width + "\"");
    line(" HEIGHT=\"" + height + "\"");
    line(std::string(" CODEBASE=\"") + kPlayerCabinetAddress + "\"");
    line(" CLASSID=\"CLSID:22D6F312-B0F6-11D0-94AB-0080C74C7E95\"");
    line(" STANDBY=\"Loading Windows Media Player components...\"");
    line(" TYPE=\"application/x-oleobject\">");
    line(" <PARAM NAME=\"FileName\" VALUE=\"mms://" + texts.Address + ":" + port + "/" +
         texts.LinkQuery + "\">");
    line(" <PARAM NAME=\"ShowControls\" VALUE=\"1\">");
    line(" <PARAM NAME=\"ShowStatusBar\" VALUE=\"1\">");
    line(" <PARAM NAME=\"ShowDisplay\" VALUE=\"0\">");
    line(" <PARAM NAME=\"AnimationAtStart\" VALUE=\"0\">");
    line(" <PARAM NAME=\"TransparentAtStart\" VALUE=\"0\">");
    line(" <PARAM NAME=\"AutoStart\" VALUE=\"1\">");
    line(" <PARAM NAME=\"AllowChangeDisplaySize\" VALUE=\"0\">");
    line("");
    line(" <EMBED");
    line("  TYPE=\"application/x-mplayer2\"");
    line(std::string("  PLUGINSPAGE=\"") + kPlayerDownloadAddress + "\"");
    line("  SRC=\"\"");
    line("  NAME=\"Video\"");
    line("  WIDTH=\"" + width + "\"");
    line("  HEIGHT=\"" + height + "\"");
    line("  ShowControls=\"1\"");
    line("  ShowStatusBar=\"1\"");
    line("  ShowDisplay=\"0\"");
    line("  AnimationAtStart=\"1\"");
    line("  TransparentAtStart=\"0\"");
    line("  AutoStart=\"1\"");
    line("  AllowChangeDisplaySize=\"0\">");
    line(" </EMBED>");
    line("</OBJECT>");
    line("</td></tr></table>");
    p += "<br><br>";
    line("to put this on your own site select view source and grab the requiered code :)");
    p += "<br><br>";
    line("powered by kavaroXP");
    line("<table width=\"88\" height=\"31\" border=1 cellpadding=0 cellspacing=0 "
         "bordercolor=\"black\"><tr><td>"
         "<a href=\"" +
         site + "\" target=\"_blank\"><img border=\"0\" src=\"" + site +
         "/banners/quillon.gif\"></a></td></tr></table><br>");
    p += "</CENTER>";
    p += "</font></body></html>";
    return p;
}

void TLandingPageSource::SetWidth(std::string s) {
    std::lock_guard lock(lock_);
    texts_.Width = std::move(s);
}
void TLandingPageSource::SetHeight(std::string s) {
    std::lock_guard lock(lock_);
    texts_.Height = std::move(s);
}
void TLandingPageSource::SetStreamPort(int port) {
    std::lock_guard lock(lock_);
    texts_.StreamPort = port;
}
void TLandingPageSource::SetAddress(std::string s) {
    std::lock_guard lock(lock_);
    texts_.Address = std::move(s);
}
TLandingPageTexts TLandingPageSource::Snapshot() const {
    std::lock_guard lock(lock_);
    return texts_;
}
