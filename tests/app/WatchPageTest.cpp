// The watch page for browsers: what it holds, how it follows the window's
// texts, and the file menu's "watch in browser" during a broadcast.
#include "app/WatchPage.h"
#include "AppTestSupport.h"
#include "app/MainForm.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

bool Has(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

} // namespace

TEST(WatchPage, PointsAtBothStreamsAndKeepsTheTypedAddressHarmless) {
    const std::string page = BuildWatchPage({"400", "abc", 9000, "10.0.0.7"});
    EXPECT_EQ(0u, page.find("<!DOCTYPE html>"));
    EXPECT_TRUE(Has(page, "<meta charset=\"utf-8\">"));
    EXPECT_TRUE(Has(page, "<meta name=\"viewport\""));
    EXPECT_TRUE(Has(page, "width=\"400\" height=\"300\"")); // "abc" falls back as on "/"
    EXPECT_TRUE(Has(page, "muted autoplay"));
    EXPECT_TRUE(Has(page, "data-stream=\"http://10.0.0.7:9000/live.webm\""));
    EXPECT_TRUE(Has(page, ">unmute</button>"));
    EXPECT_TRUE(Has(page, "<a href=\"mms://10.0.0.7:9000/\">mms://10.0.0.7:9000/</a>"));
    EXPECT_TRUE(Has(page, "MediaSource"));
    EXPECT_TRUE(Has(page, "all 3 places are taken"));
    EXPECT_TRUE(Has(page, "not running"));
    // No external resources: every address in the page is the stream's.
    EXPECT_FALSE(Has(page, "https://"));
    EXPECT_FALSE(Has(page, "src=\"http"));

    const std::string hostile =
        BuildWatchPage({"", "", kDefaultStreamPort, "\"><script>alert(1)</script>"});
    EXPECT_FALSE(Has(hostile, "<script>alert"));
    EXPECT_TRUE(Has(hostile, "&quot;&gt;&lt;script&gt;"));
    EXPECT_TRUE(Has(hostile, "mms://&quot;"));
}

TEST(WatchPage, ServedDuringABroadcastAndOpenedFromTheFileMenu) {
    TDesktopCapture desktop;
    TMainForm form;
    const int httpPort = FreePort(), asfPort = FreePort();
    form.videoconnect1->Items(form.videoconnect1->Count() - 1)->Click();
    form.ed_internalport->setText(QString::number(httpPort));
    form.ed_asfport->setText(QString::number(asfPort));
    form.cb_ip->setEditText("127.0.0.1");
    EXPECT_EQ(form.file1->IndexOf(form.filewatch1), 0);
    EXPECT_EQ(form.filewatch1->Caption(), "&watch in browser");
    EXPECT_FALSE(form.filewatch1->Enabled());
    form.filewatch1->Click();
    EXPECT_TRUE(desktop.Urls().empty());

    form.bt_broadcast->click();
    ASSERT_TRUE(form.Capture().Broadcasting());
    EXPECT_TRUE(form.filewatch1->Enabled());
    form.filewatch1->Click();
    ASSERT_EQ(desktop.Urls().size(), 1u);
    EXPECT_EQ(desktop.Urls()[0], "http://127.0.0.1:" + std::to_string(httpPort) + "/watch");

    form.ed_width->setText("640");
    const std::string response =
        HttpExchange(httpPort, "GET /watch HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(0u, response.find("HTTP/1.1 200 OK\r\n")) << response.substr(0, 200);
    EXPECT_TRUE(Has(response, "Content-Type: text/html; charset=utf-8\r\n"));
    EXPECT_TRUE(Has(response, "no-cache, must revalidate"));
    const std::string body = response.substr(response.find("\r\n\r\n") + 4);
    EXPECT_EQ(BuildWatchPage({"640", "300", int(asfPort), "127.0.0.1"}), body);

    form.bt_broadcast->click();
    EXPECT_FALSE(form.filewatch1->Enabled());
    EXPECT_TRUE(desktop.Errors().empty());
}
