// Broadcast with the test devices: the landing page served on the HTTP port
// to real clients, the port choices, a busy port, the site link, and
// closing the window while a viewer holds a connection open.
#include "AppTestSupport.h"
#include "RunningGraphFilters.h"
#include "app/LandingPage.h"
#include "app/MainForm.h"
#include "app/SettingsFile.h"
#include "app/StatusBar.h"
#include "app/ViewersDialog.h"
#include "app/Widgets.h"
#include "common/Text.h"
#include "net/NetGlobal.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

namespace {

TSkinMenuItem* LastItem(TSkinMenuItem* submenu) {
    return submenu->Items(submenu->Count() - 1);
}

std::string HeaderValue(const std::string& response, const std::string& name) {
    std::smatch m;
    if (std::regex_search(response, m, std::regex("\r\n" + name + ": ([^\r]*)\r\n"))) return m[1];
    return {};
}

// A socket listening on 127.0.0.1:port for as long as it lives.
struct TBusyPort {
    int fd = -1;
    int port = 0;
    TBusyPort() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 1);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~TBusyPort() { Close(); }
    void Close() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

struct Broadcast : ::testing::Test {
    TDesktopCapture desktop;
    TMainForm form;
    int httpPort = FreePort();
    int asfPort = FreePort();

    Broadcast() {
        LastItem(form.videoconnect1)->Click();
        LastItem(form.audioconnect1)->Click();
        form.ed_internalport->setText(QString::number(httpPort));
        form.ed_asfport->setText(QString::number(asfPort));
        form.cb_ip->setEditText("127.0.0.1");
    }

    void Start() {
        form.bt_broadcast->click();
        ASSERT_TRUE(desktop.Errors().empty()) << desktop.Errors().at(0);
        ASSERT_TRUE(form.Capture().Broadcasting());
    }

    void ClickLink() {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.lb_quillon, &press);
        QCoreApplication::sendEvent(form.lb_quillon, &release);
    }
};

TEST_F(Broadcast, StateTableAndLabel) {
    std::filesystem::remove(kBroadcastArchive);
    Start();
    for (QPushButton* b : {form.bt_preview, form.bt_broadcast, form.bt_record})
        EXPECT_EQ(b->isEnabled(), b == form.bt_broadcast);
    EXPECT_EQ(form.sh_broadcast->BrushColor(), QColor(0, 128, 0));
    EXPECT_EQ(form.sh_preview->BrushColor(), QColor(255, 0, 0));
    EXPECT_FALSE(form.videoconnect1->Enabled());
    EXPECT_FALSE(form.audioinput1->Enabled());
    EXPECT_TRUE(form.Timer().Enabled());
    EXPECT_TRUE(form.Capture().LandingSiteServing());
    EXPECT_EQ(form.lb_quillon->text().toStdString(),
              "online @ http://127.0.0.1:" + std::to_string(httpPort));
    ASSERT_TRUE(form.Capture().ServedPorts().has_value());
    EXPECT_EQ(form.Capture().ServedPorts()->StreamPort, asfPort);
    EXPECT_EQ(form.Capture().ServedPorts()->HttpPort, httpPort);
    EXPECT_EQ(BroadcastProfile(form), WMProfile_V80_56Video);
    EXPECT_TRUE(PortAccepts(asfPort));
    form.bt_broadcast->click();
    EXPECT_FALSE(form.Capture().Broadcasting());
    EXPECT_FALSE(form.Capture().LandingSiteServing());
    EXPECT_FALSE(form.Capture().ServedPorts().has_value());
    EXPECT_TRUE(std::filesystem::exists(kBroadcastArchive)); // in the working folder
    EXPECT_EQ(form.lb_quillon->text(), "offline");
    EXPECT_EQ(form.sh_broadcast->BrushColor(), QColor(255, 0, 0));
    EXPECT_TRUE(form.videoconnect1->Enabled());
    EXPECT_FALSE(PortAccepts(httpPort));
    EXPECT_FALSE(PortAccepts(asfPort));
}

// The settings file's archive/dir takes the archive; the next broadcast
// keeps the earlier one under its start time; a folder that cannot be
// written stops the start with its name.
TEST_F(Broadcast, TheArchiveGoesToTheSettingsFilesFolderAndIsKept) {
    const std::filesystem::path folder = std::filesystem::absolute("archives");
    std::filesystem::remove_all(folder);
    auto setFolder = [](const std::string& dir) {
        QSettings file(QString::fromStdString(SettingsFilePath()), QSettings::IniFormat);
        if (dir.empty())
            file.remove("archive/dir");
        else
            file.setValue("archive/dir", QString::fromStdString(dir));
    };
    setFolder(folder.string());
    for (int run = 0; run < 2; ++run) {
        Start();
        PumpFor(1500);
        form.bt_broadcast->click();
    }
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(brim-\d{8}-\d{6}\.asf)"))) << names[0];
    EXPECT_EQ(names[1], "brim.asf");

    setFolder("/proc/kavaroxp-archives");
    form.bt_broadcast->click();
    setFolder({});
    ASSERT_EQ(desktop.Errors().size(), 1u);
    EXPECT_NE(desktop.Errors()[0].find("\"/proc/kavaroxp-archives\""), std::string::npos)
        << desktop.Errors()[0];
    EXPECT_FALSE(form.Capture().Broadcasting());
    std::filesystem::remove_all(folder);
}

// webrtc/ports that is no range stops the start, naming the file and the key.
TEST_F(Broadcast, WebRtcPortsInTheSettingsFileMustBeARange) {
    {
        QSettings file(QString::fromStdString(SettingsFilePath()), QSettings::IniFormat);
        file.setValue("webrtc/ports", "50100-50000");
    }
    form.bt_broadcast->click();
    QSettings(QString::fromStdString(SettingsFilePath()), QSettings::IniFormat)
        .remove("webrtc/ports");
    ASSERT_EQ(desktop.Errors().size(), 1u);
    EXPECT_NE(desktop.Errors()[0].find("\"50100-50000\" in \"" + SettingsFilePath() + "\""),
              std::string::npos)
        << desktop.Errors()[0];
    EXPECT_NE(desktop.Errors()[0].find("webrtc/ports"), std::string::npos);
    EXPECT_FALSE(form.Capture().Broadcasting());
}

TEST_F(Broadcast, CurlGetsTheWholeLandingPage) {
    Start();
    int status = 0;
    const std::string response = RunCommand(
        "curl -s -i --max-time 10 http://127.0.0.1:" + std::to_string(httpPort) + "/", &status);
    ASSERT_EQ(status, 0) << response;

    const std::string page = BuildLandingPage({"320", "300", asfPort, "127.0.0.1"});
    const std::string date = HeaderValue(response, "Date");
    const std::string expires = HeaderValue(response, "Expires");
    const std::string expected = "HTTP/1.1 200 OK\r\n"
                                 "Connection: close\r\n"
                                 "Content-Type: text/html\r\n"
                                 "Content-Length: " +
                                 std::to_string(page.size()) +
                                 "\r\n"
                                 "Cache-control: no-cache, must revalidate\r\n"
                                 "Date: " +
                                 date +
                                 "\r\n"
                                 "Expires: " +
                                 expires +
                                 "\r\n"
                                 "Pragma: no-cache\r\n"
                                 "Server: kavaroXP/beta3\r\n"
                                 "\r\n" +
                                 page;
    EXPECT_EQ(response, expected);
    EXPECT_NE(page.find("VALUE=\"mms://127.0.0.1:" + std::to_string(asfPort) + "/\""),
              std::string::npos);

    std::string d = date, e = expires;
    const double minutes = (InternetTextToDateTime(d) - InternetTextToDateTime(e)) * 24 * 60;
    EXPECT_NEAR(minutes, 23.0, 1.0 / 60);

    // Any other document: a header with the cache and date fields, no body.
    const std::string favicon = HttpExchange(httpPort, "GET /favicon.ico HTTP/1.0\r\n\r\n");
    EXPECT_EQ(favicon.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << favicon;
    EXPECT_EQ(favicon.find("Content-Length"), std::string::npos) << favicon;
    EXPECT_NE(favicon.find("Cache-control: no-cache, must revalidate\r\n"), std::string::npos);
    EXPECT_NE(favicon.find("Expires: "), std::string::npos);
    EXPECT_EQ(favicon.substr(favicon.size() - 4), "\r\n\r\n") << "body after the header";

    // The method does not matter; a query string does not change the target.
    const std::string post =
        HttpExchange(httpPort, "POST /?x=1 HTTP/1.0\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(post.substr(post.size() - page.size()), page);
    form.bt_broadcast->click();
    EXPECT_FALSE(PortAccepts(httpPort));
}

TEST_F(Broadcast, StreamPlaysForARealClient) {
    Start();
    int status = 0;
    const std::string probe =
        RunCommand("timeout 20 ffprobe -v error -show_entries stream=codec_type,codec_name "
                   "-of compact http://127.0.0.1:" +
                       std::to_string(asfPort) + "/ 2>&1",
                   &status);
    EXPECT_EQ(status, 0) << probe;
    EXPECT_NE(probe.find("codec_name=wmv2|codec_type=video"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=wmav2|codec_type=audio"), std::string::npos) << probe;
    form.bt_broadcast->click();
}

// A curl process reading the stream until the server closes it.
struct TStreamReader {
    pid_t pid = -1;
    explicit TStreamReader(std::vector<std::string> args) {
        args.insert(args.begin(), {"curl", "-s", "-o", "/dev/null", "--max-time", "60"});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
    }
    ~TStreamReader() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Whether it has ended (and the connection with it).
    bool Ended() {
        if (pid <= 0) return true;
        if (waitpid(pid, nullptr, WNOHANG) != pid) return false;
        pid = -1;
        return true;
    }
};

TEST_F(Broadcast, ViewersAreCountedListedAndOneIsDisconnected) {
    Start();
    EXPECT_EQ(form.StatusBar->PanelText(1), "viewers 0/3");
    EXPECT_TRUE(form.fileviewers1->Enabled());
    const std::string url = "http://127.0.0.1:" + std::to_string(asfPort) + "/";
    TStreamReader plain({url});
    TStreamReader player({"-A", "NSPlayer/7.0", "-H", "Pragma: xPlayStrm=1", url});
    ASSERT_TRUE(PumpUntil([&] { return form.StatusBar->PanelText(1) == "viewers 2/3"; }))
        << form.StatusBar->PanelText(1);

    form.fileviewers1->Click();
    TViewersDialog* dialog = form.ViewersDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->isVisible());
    QTableWidget* table = dialog->Table();
    // The bytes column moves on while the list is open.
    const QString bytesBefore = table->item(0, 3)->text();
    ASSERT_TRUE(PumpUntil([&] { return table->item(0, 3)->text() != bytesBefore; }));
    std::set<std::string> kinds;
    for (int r = 0; r < table->rowCount(); ++r) {
        EXPECT_EQ(table->item(r, 0)->text().toStdString().rfind("127.0.0.1:", 0), 0u);
        kinds.insert(table->item(r, 1)->text().toStdString());
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"player", "plain HTTP"}));

    EXPECT_FALSE(dialog->DisconnectButton()->isEnabled()); // nothing selected yet
    int playerRow = table->item(0, 1)->text() == "player" ? 0 : 1;
    table->selectRow(playerRow);
    dialog->DisconnectButton()->click();
    EXPECT_TRUE(PumpUntil([&] { return player.Ended(); })) << "the client kept its connection";
    EXPECT_TRUE(PumpUntil([&] { return form.StatusBar->PanelText(1) == "viewers 1/3"; }));
    EXPECT_TRUE(PumpUntil([&] { return table->rowCount() == 1; }));
    EXPECT_EQ(table->item(0, 1)->text(), "plain HTTP");
    EXPECT_FALSE(plain.Ended());

    form.bt_broadcast->click();
    EXPECT_EQ(form.StatusBar->PanelText(1), "");
    EXPECT_FALSE(form.fileviewers1->Enabled());
    EXPECT_TRUE(PumpUntil([&] { return table->rowCount() == 0; }));
}

TEST_F(Broadcast, VideoOnlyProfileWithoutAudioDevice) {
    TMainForm videoOnly;
    LastItem(videoOnly.videoconnect1)->Click();
    videoOnly.ed_internalport->setText(QString::number(httpPort));
    videoOnly.ed_asfport->setText(QString::number(asfPort));
    videoOnly.bt_broadcast->click();
    ASSERT_TRUE(videoOnly.Capture().Broadcasting())
        << (desktop.Errors().empty() ? "" : desktop.Errors()[0]);
    EXPECT_EQ(BroadcastProfile(videoOnly), WMProfile_V80_56VideoOnly);
    videoOnly.bt_broadcast->click();
}

TEST_F(Broadcast, PageFollowsTheEditBoxesWhileRunning) {
    Start();
    form.ed_width->setText("abc");
    form.ed_height->setText("480");
    form.cb_ip->setEditText("");
    // The player keeps pointing at the port the stream is served on.
    form.ed_asfport->setText("0");
    const std::string response = HttpExchange(httpPort, "GET / HTTP/1.0\r\n\r\n");
    const std::string page = BuildLandingPage({"abc", "480", asfPort, ""});
    ASSERT_GE(response.size(), page.size());
    EXPECT_EQ(response.substr(response.size() - page.size()), page);
    EXPECT_NE(page.find("WIDTH=\"320\""), std::string::npos);
    EXPECT_NE(page.find("\"mms://:" + std::to_string(asfPort) + "/\""), std::string::npos);
}

TEST_F(Broadcast, LaterBroadcastServesTheHttpPortNowInTheBox) {
    Start();
    form.bt_broadcast->click();
    const int second = FreePort();
    form.ed_internalport->setText(QString::number(second));
    Start();
    EXPECT_FALSE(PortAccepts(httpPort));
    const std::string response = HttpExchange(second, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << response;
    EXPECT_EQ(form.lb_quillon->text().toStdString(),
              "online @ http://127.0.0.1:" + std::to_string(second));
    ClickLink();
    ASSERT_EQ(desktop.Urls().size(), 1u);
    EXPECT_EQ(desktop.Urls()[0], "http://127.0.0.1:" + std::to_string(second));
    form.bt_broadcast->click();
    EXPECT_FALSE(PortAccepts(second));
}

TEST_F(Broadcast, TextInPortBoxesGivesTheDefaults) {
    if (PortAccepts(8081) || PortAccepts(8000))
        GTEST_SKIP() << "ports 8081/8000 are in use on this host";
    form.ed_internalport->setText("abc");
    form.ed_asfport->setText("abc");
    Start();
    EXPECT_EQ(form.Capture().ServedPorts().value_or(TBroadcastPorts{}).StreamPort, 8000);
    EXPECT_EQ(form.lb_quillon->text(), "online @ http://127.0.0.1:8081");
    EXPECT_TRUE(PortAccepts(8081));
    form.bt_broadcast->click();
    EXPECT_FALSE(PortAccepts(8081));
}

TEST_F(Broadcast, BusyHttpPortIsReportedAndNextPressRecovers) {
    TBusyPort busy;
    form.ed_internalport->setText(QString::number(busy.port));
    form.bt_broadcast->click();
    ASSERT_EQ(desktop.Errors().size(), 1u);
    EXPECT_EQ(desktop.Errors()[0], "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(form.StatusBar->PanelText(0), desktop.Errors()[0]);
    EXPECT_FALSE(form.Capture().Broadcasting());
    // The stream had started: it is neither served nor previewed any more.
    EXPECT_FALSE(form.Capture().GraphActive());
    EXPECT_FALSE(PortAccepts(asfPort));
    EXPECT_EQ(form.sh_broadcast->BrushColor(), QColor(255, 0, 0));
    EXPECT_EQ(form.lb_quillon->text(), "offline");
    EXPECT_FALSE(form.Timer().Enabled());
    EXPECT_TRUE(form.bt_preview->isEnabled());
    // Another port in the box works at once, the busy one keeps failing
    // while it is held, and works again once it is free.
    desktop.ClearErrors();
    form.ed_internalport->setText(QString::number(httpPort));
    Start();
    EXPECT_TRUE(PortAccepts(httpPort));
    form.bt_broadcast->click();
    busy.Close();
    form.ed_internalport->setText(QString::number(busy.port));
    Start();
    EXPECT_TRUE(PortAccepts(busy.port));
    form.bt_broadcast->click();
    // And a preview after that.
    form.bt_preview->click();
    EXPECT_TRUE(form.Capture().Previewing());
    form.bt_preview->click();
    EXPECT_FALSE(form.Capture().GraphActive());
}

TEST_F(Broadcast, BusyStreamPortStartsNothingAndNamesThePort) {
    TBusyPort busy;
    form.ed_asfport->setText(QString::number(busy.port));
    form.bt_broadcast->click();
    const std::string expected =
        "Stream port " + std::to_string(busy.port) + " is in use: choose another port.";
    ASSERT_EQ(desktop.Errors(), std::vector<std::string>{expected});
    EXPECT_EQ(form.StatusBar->PanelText(0), expected);
    EXPECT_FALSE(form.Capture().Broadcasting());
    EXPECT_FALSE(form.Capture().GraphActive());
    EXPECT_FALSE(form.Capture().LandingSiteServing());
    EXPECT_FALSE(PortAccepts(httpPort));
    EXPECT_EQ(form.sh_broadcast->BrushColor(), QColor(255, 0, 0));
    EXPECT_EQ(form.lb_quillon->text(), "offline");
    EXPECT_FALSE(form.Timer().Enabled());
    // The other program keeps its port; a free one works at once.
    desktop.ClearErrors();
    form.ed_asfport->setText(QString::number(asfPort));
    Start();
    EXPECT_TRUE(PortAccepts(asfPort));
    EXPECT_TRUE(PortAccepts(httpPort));
    form.bt_broadcast->click();
    EXPECT_FALSE(PortAccepts(asfPort));
}

TEST_F(Broadcast, OutOfRangePortsGiveAClearError) {
    for (QLineEdit* box : {form.ed_internalport, form.ed_asfport}) {
        for (const char* port : {"70000", "-1", "0"}) {
            const QString keep = box->text();
            box->setText(port);
            form.bt_broadcast->click();
            ASSERT_EQ(desktop.Errors().size(), 1u) << port;
            EXPECT_EQ(desktop.Errors()[0],
                      std::string("\"") + port + "\" is not a valid port number (1 to 65535).");
            EXPECT_FALSE(form.Capture().Broadcasting());
            EXPECT_FALSE(form.Capture().LandingSiteServing());
            desktop.ClearErrors();
            box->setText(keep);
        }
    }
    // Nothing was bound: the next broadcast uses the port now typed.
    Start();
    EXPECT_TRUE(PortAccepts(httpPort));
    form.bt_broadcast->click();
}

TEST_F(Broadcast, SiteLinkOpensTheBrowserOnlyWhileBroadcasting) {
    ClickLink();
    EXPECT_TRUE(desktop.Urls().empty());
    Start();
    ClickLink();
    ASSERT_EQ(desktop.Urls().size(), 1u);
    EXPECT_EQ(desktop.Urls()[0], "http://127.0.0.1:" + std::to_string(httpPort));
    form.ed_internalport->setText("x1"); // edits take effect at the next start
    ClickLink();
    EXPECT_EQ(desktop.Urls().back(), "http://127.0.0.1:" + std::to_string(httpPort));
    form.bt_broadcast->click();
    ClickLink();
    EXPECT_EQ(desktop.Urls().size(), 2u);
}

TEST_F(Broadcast, FiftyConcurrentRequestsWhileWidthChanges) {
    Start();
    const std::set<std::string> typed = {"320", "1", "22", "333", "4444", "55555"};
    std::atomic<int> done{0};
    std::atomic<int> bad{0};
    // Built once: libstdc++ regex construction is not safe to run concurrently.
    const std::regex width1(" WIDTH=\"(\\d+)\"\r"), width2("  WIDTH=\"(\\d+)\"\r");
    const std::regex length("\r\nContent-Length: ([0-9]+)\r\n");
    std::vector<std::thread> clients;
    for (int i = 0; i < 50; ++i)
        clients.emplace_back([&] {
            const std::string r = HttpExchange(httpPort, "GET / HTTP/1.0\r\n\r\n", 10000);
            const size_t body = r.find("\r\n\r\n");
            std::smatch w1, w2, len;
            const bool ok = body != std::string::npos && std::regex_search(r, len, length) &&
                            len[1] == std::to_string(r.size() - body - 4) && r.size() > body + 25 &&
                            r.compare(r.size() - 21, 21, "</font></body></html>") == 0 &&
                            std::regex_search(r, w1, width1) && std::regex_search(r, w2, width2) &&
                            w1[1] == w2[1] && typed.count(w1[1]) == 1;
            if (!ok) ++bad;
            ++done;
        });
    const std::vector<std::string> values(typed.begin(), typed.end());
    for (size_t i = 0; done < 50; ++i) {
        form.ed_width->setText(QString::fromStdString(values[i % values.size()]));
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (i > 60000) break; // the clients time out by themselves; report below
    }
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(done, 50);
    EXPECT_EQ(bad, 0);
    form.bt_broadcast->click();
}

TEST_F(Broadcast, ClosingWhileAClientHoldsAConnectionEndsInTime) {
    auto other = std::make_unique<TMainForm>();
    LastItem(other->videoconnect1)->Click();
    other->ed_internalport->setText(QString::number(httpPort));
    other->ed_asfport->setText(QString::number(asfPort));
    other->bt_broadcast->click();
    ASSERT_TRUE(other->Capture().Broadcasting());
    // A client that connects and says nothing.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(httpPort));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    PumpFor(100);
    const auto start = std::chrono::steady_clock::now();
    other->close();
    other.reset();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(7500 + 2500));
    close(fd);
    EXPECT_FALSE(PortAccepts(httpPort));
}

} // namespace
