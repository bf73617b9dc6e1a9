// Who may watch: the gate both servers ask, and the window's "access…"
// dialog, its private settings, the links with their token and blocking a
// viewer's address from the viewers list.
#include "AppTestSupport.h"
#include "app/AccessDialog.h"
#include "app/MainForm.h"
#include "app/ViewerGate.h"
#include "app/ViewerPassword.h"
#include "app/ViewersDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>

#include <arpa/inet.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TViewerRequest Request(const std::string& peer, const std::string& target,
                       const std::string& authorization = {}) {
    return {peer, target, authorization};
}

std::string Basic(const std::string& userAndPassword) {
    return "Basic " + QByteArray::fromStdString(userAndPassword).toBase64().toStdString();
}

// The status code curl gets for url (extra: more curl options).
std::string StatusOf(const std::string& url, const std::string& extra = {}) {
    return RunCommand("curl -s -o /dev/null --max-time 3 -w '%{http_code}' " + extra + " '" + url +
                      "'");
}

// A player connected from a loopback address of its choice, holding on.
struct TPlayer {
    int fd = -1;
    TPlayer(const char* from, int port, const std::string& target) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in source = testports::Loopback(0);
        inet_pton(AF_INET, from, &source.sin_addr);
        const sockaddr_in to = testports::Loopback(port);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0 ||
            ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
            return;
        const std::string request = "GET " + target + " HTTP/1.0\r\n\r\n";
        (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    }
    ~TPlayer() { ::close(fd); }
    // Reads what came; true once the server closed the connection.
    bool Closed() {
        char buffer[65536];
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return true;
        }
        return false;
    }
};

void OnAccessDialog(const std::function<void(TAccessDialog&)>& fill) {
    QTimer::singleShot(0, [fill] {
        if (auto* d = dynamic_cast<TAccessDialog*>(QApplication::activeModalWidget())) fill(*d);
    });
}

} // namespace

TEST(ViewerGate, LetsInByTokenOrBasicAndCountsOnlyWrongGuesses) {
    TViewerGate gate;
    EXPECT_EQ(TViewerAccess::Allow, gate.Check(Request("10.0.0.9:5000", "/")));
    const std::string hash = HashViewerPassword("pw \xC3\xA9");
    gate.SetPasswordHash(hash);
    const std::string token = gate.Token();
    ASSERT_EQ(ViewerAccessToken(hash), token);
    EXPECT_EQ("?k=" + token, gate.LinkQuery());
    const std::string peer = "10.0.0.9:5000";
    // Asking without credentials is no guess: it never leads to 429.
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(TViewerAccess::Unauthorized, gate.Check(Request(peer, "/watch")));
    EXPECT_EQ(TViewerAccess::Allow, gate.Check(Request(peer, "/watch?webrtc=0&k=" + token)));
    EXPECT_EQ(TViewerAccess::Allow, gate.Check(Request(peer, "/", Basic("viewer:pw \xC3\xA9"))));
    EXPECT_EQ(TViewerAccess::Allow, gate.Check(Request(peer, "/", Basic("viewer:" + token))));
    EXPECT_EQ(TViewerAccess::Unauthorized,
              gate.Check(Request(peer, "/", Basic("admin:pw \xC3\xA9"))));
    EXPECT_EQ(TViewerAccess::Unauthorized, gate.Check(Request(peer, "/?kk=" + token)));
    // Wrong tokens: the first, truncated, empty-ish, very long; with the
    // wrong user above that makes ten, and the eleventh is refused.
    for (const std::string& k :
         {token.substr(0, 42), token + "A", std::string("%00"), std::string(5000, 'A'),
          std::string("x"), std::string("y"), std::string("z"), std::string("w")})
        EXPECT_EQ(TViewerAccess::Unauthorized, gate.Check(Request(peer, "/live.webm?k=" + k)));
    EXPECT_EQ(TViewerAccess::Unauthorized, gate.Check(Request(peer, "/?k=v")));
    EXPECT_EQ(TViewerAccess::TooManyTries, gate.Check(Request(peer, "/?k=u")));
    EXPECT_EQ(TViewerAccess::TooManyTries, gate.Check(Request("10.0.0.9:6000", "/?k=" + token)));
    EXPECT_EQ(TViewerAccess::Allow, gate.Check(Request("10.0.0.8:5000", "/?k=" + token)));
    gate.ClearFailedTries();
    EXPECT_EQ(TViewerAccess::Allow, gate.Check(Request(peer, "/?k=" + token)));

    // Rules come before the password: a kept-out address is Forbidden.
    gate.Rules().Deny(*TAddressRange::Parse("10.0.0.0/24"));
    EXPECT_EQ(TViewerAccess::Forbidden, gate.Check(Request(peer, "/?k=" + token)));
    // A new password: the old link is worthless at once.
    const uint64_t before = gate.Generation();
    gate.SetPasswordHash(HashViewerPassword("pw \xC3\xA9"));
    EXPECT_NE(before, gate.Generation());
    EXPECT_EQ(TViewerAccess::Unauthorized, gate.Check(Request("10.1.0.1:1", "/?k=" + token)));
    gate.SetPasswordHash({});
    EXPECT_EQ(TViewerAccess::Allow, gate.Check(Request("10.1.0.1:1", "/")));
    EXPECT_EQ("", gate.LinkQuery());
}

TEST(Access, DialogKeepsOnlyTheHashPrivatelyAndTheBroadcastFollowsIt) {
    TDesktopCapture desktop;
    const std::string path = SettingsFilePath();
    std::remove(path.c_str());
    TMainForm form;
    OnAccessDialog([](TAccessDialog& d) {
        d.rb_local->setChecked(true);
        d.ed_password->setText("open sesame");
        d.accept();
    });
    form.fileaccess1->Click();
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0600, int(st.st_mode & 0777));
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(std::string::npos, text.str().find("sesame")) << text.str();
    EXPECT_NE(std::string::npos, text.str().find("listen=local")) << text.str();
    const TAccessChoice saved = LoadAccessChoice();
    EXPECT_EQ(TListenChoice::Local, saved.Listen);
    EXPECT_TRUE(ViewerPasswordMatches("open sesame", saved.PasswordHash));

    // The IP box names an address this machine lacks: "this computer only"
    // listens on 127.0.0.1 and the pages say so.
    const int httpPort = FreePort(), asfPort = FreePort();
    form.videoconnect1->Items(form.videoconnect1->Count() - 1)->Click();
    form.ed_internalport->setText(QString::number(httpPort));
    form.ed_asfport->setText(QString::number(asfPort));
    form.cb_ip->setEditText("192.0.2.1");
    form.bt_broadcast->click();
    ASSERT_TRUE(form.Capture().Broadcasting()) << desktop.Errors().at(0);
    EXPECT_EQ(ListeningAddresses(httpPort),
              std::vector<std::string>{"127.0.0.1:" + std::to_string(httpPort)});
    EXPECT_EQ(ListeningAddresses(asfPort),
              std::vector<std::string>{"127.0.0.1:" + std::to_string(asfPort)});
    form.filewatch1->Click();
    const std::string site = "http://127.0.0.1:" + std::to_string(httpPort);
    const std::string token = ViewerAccessToken(saved.PasswordHash);
    ASSERT_EQ(1u, desktop.Urls().size());
    EXPECT_EQ(site + "/watch?k=" + token, desktop.Urls()[0]);
    EXPECT_EQ("401", StatusOf(site + "/watch"));
    EXPECT_EQ("200", StatusOf(desktop.Urls()[0]));
    const std::string stream = "http://127.0.0.1:" + std::to_string(asfPort) + "/";
    EXPECT_EQ("401", StatusOf(stream));
    EXPECT_EQ("200", StatusOf(stream, "-u 'viewer:open sesame'"));

    // Blocked from the viewers list: that address cannot come back; others can.
    TPlayer other("127.0.0.2", asfPort, "/?k=" + token);
    TPlayer mine("127.0.0.1", asfPort, "/?k=" + token);
    ASSERT_TRUE(PumpUntil([&] { return form.Capture().Viewers().size() == 2; }));
    form.fileviewers1->Click();
    TViewersDialog* viewers = form.ViewersDialog();
    QTableWidget* table = viewers->Table();
    ASSERT_TRUE(PumpUntil([&] { return table->rowCount() == 2; }));
    table->selectRow(table->item(0, 0)->text().startsWith("127.0.0.2:") ? 0 : 1);
    viewers->BlockBox()->setChecked(true);
    viewers->DisconnectButton()->click();
    EXPECT_TRUE(PumpUntil([&] { return other.Closed(); }));
    EXPECT_EQ("403", StatusOf(stream + "?k=" + token, "--interface 127.0.0.2"));
    EXPECT_FALSE(mine.Closed());

    // A new password: the old link stops working and its viewers are let go.
    OnAccessDialog([](TAccessDialog& d) {
        d.ed_password->setText("another");
        d.accept();
    });
    form.fileaccess1->Click();
    EXPECT_TRUE(PumpUntil([&] { return mine.Closed(); }));
    EXPECT_EQ("401", StatusOf(site + "/watch?k=" + token));
    EXPECT_EQ("200", StatusOf(site + "/watch", "-u viewer:another"));
    form.bt_broadcast->click();
    EXPECT_TRUE(desktop.Errors().empty());
    std::remove(path.c_str());
}
