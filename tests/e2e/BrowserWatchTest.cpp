// A real browser watches a broadcast: headless Chromium opens the watch page
// while the window broadcasts the Test Pattern and Test Tone.
#include "ChromiumSession.h"
#include "app/DesktopServices.h"
#include "app/MainForm.h"
#include "platform/gst/GstRegistration.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

void PumpFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Desktop players on the stream port that keep reading, on a thread of their own.
class TAsfViewers {
  public:
    TAsfViewers(int port, int count) {
        for (int i = 0; i < count; ++i) {
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(uint16_t(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const char* request = "GET / HTTP/1.0\r\nUser-Agent: NSPlayer/7.10\r\n"
                                  "Pragma: xPlayStrm=1\r\n\r\n";
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
                send(fd, request, strlen(request), MSG_NOSIGNAL);
            fds_.push_back(fd);
        }
        reader_ = std::thread([this] {
            char buf[65536];
            while (!stop_) {
                std::vector<pollfd> p;
                for (int fd : fds_)
                    p.push_back({fd, POLLIN, 0});
                if (poll(p.data(), p.size(), 100) <= 0) continue;
                for (auto& q : p)
                    if (q.revents) (void)!recv(q.fd, buf, sizeof buf, MSG_DONTWAIT);
            }
        });
    }
    ~TAsfViewers() {
        stop_ = true;
        reader_.join();
        for (int fd : fds_)
            close(fd);
    }

  private:
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

const char* kProbe = "(function(){var v=document.getElementById('video');"
                     "var s=document.getElementById('status');"
                     "return v?[v.currentTime,v.videoWidth,s.textContent].join('|'):'none';})()";

struct TPageState {
    double time = 0;
    int width = 0;
    std::string status;
};

size_t Count(TMainForm& form, TStreamViewerKind kind) {
    size_t n = 0;
    for (const TStreamViewer& v : form.Capture().Viewers())
        n += v.Kind == kind;
    return n;
}

TPageState Read(TChromiumSession& browser) {
    TPageState s;
    const std::string v = browser.Evaluate(kProbe);
    const size_t a = v.find('|'), b = a == std::string::npos ? a : v.find('|', a + 1);
    if (b == std::string::npos) return s;
    s.time = std::atof(v.substr(0, a).c_str());
    s.width = std::atoi(v.substr(a + 1, b - a - 1).c_str());
    s.status = v.substr(b + 1);
    return s;
}

} // namespace

TEST(BrowserWatch, ChromiumPlaysTheBroadcastAndSeesAFullHouse) {
    SetUrlOpener([](const std::string&) {});
    SetErrorReporter([](const std::string& m) { ADD_FAILURE() << "error box: " << m; });
    TMainForm form;
    const int httpPort = FreePort(), asfPort = FreePort();
    form.videoconnect1->Items(form.videoconnect1->Count() - 1)->Click(); // Test Pattern
    form.audioconnect1->Items(form.audioconnect1->Count() - 1)->Click(); // Test Tone
    form.ed_internalport->setText(QString::number(httpPort));
    form.ed_asfport->setText(QString::number(asfPort));
    form.cb_ip->setEditText("127.0.0.1");
    form.bt_broadcast->click();
    ASSERT_TRUE(form.Capture().Broadcasting());

    TChromiumSession browser;
    ASSERT_TRUE(browser.Ok()) << browser.Error();
    const std::string watch = "http://127.0.0.1:" + std::to_string(httpPort) + "/watch";
    ASSERT_TRUE(browser.Navigate(watch));

    // Playback starts, then the playhead moves on with the live stream.
    TPageState first;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && (first = Read(browser)).time <= 0)
        PumpFor(200);
    ASSERT_GT(first.time, 0) << "never started; status: " << first.status;
    t.restart();
    TPageState now = first;
    while (t.elapsed() < 8000 && now.time - first.time < 2.0) {
        PumpFor(200);
        now = Read(browser);
    }
    EXPECT_GE(now.time - first.time, 2.0) << "status: " << now.status;
    EXPECT_EQ(now.width, 320);
    EXPECT_EQ(now.status.rfind("live (compatibility), ", 0), 0u) << now.status;

    // The browser leaves; three desktop players take every place.
    ASSERT_TRUE(browser.Navigate("about:blank"));
    for (int i = 0; i < 100 && Count(form, TStreamViewerKind::Browser) > 0; ++i)
        PumpFor(50);
    EXPECT_EQ(Count(form, TStreamViewerKind::Browser), 0u);
    TAsfViewers players(asfPort, 3);
    for (int i = 0; i < 100 && form.Capture().Viewers().size() < 3; ++i)
        PumpFor(50);
    ASSERT_EQ(form.Capture().Viewers().size(), 3u);
    ASSERT_TRUE(browser.Navigate(watch));
    TPageState full;
    t.restart();
    while (t.elapsed() < 10000 && (full = Read(browser)).status.empty())
        PumpFor(200);
    EXPECT_EQ(full.status, "all 3 places are taken \u2014 try again in a moment");

    form.bt_broadcast->click();
    EXPECT_FALSE(form.Capture().Broadcasting());
    SetErrorReporter({});
    SetUrlOpener({});
}
