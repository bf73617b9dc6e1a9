// The relay's settings: the file menu's dialog, the private settings file,
// and the window's broadcast relaying with them, the key never shown.
#include "AppTestSupport.h"
#include "app/MainForm.h"
#include "app/MainFormLayout.h"
#include "app/RelayDialog.h"
#include "app/StatusBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

int ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// Runs fill on the dialog the next click opens.
void OnDialog(const std::function<void(TRelayDialog&)>& fill) {
    QTimer::singleShot(0, [fill] {
        if (auto* d = dynamic_cast<TRelayDialog*>(QApplication::activeModalWidget())) fill(*d);
    });
}

} // namespace

TEST(RelaySettings, ReadBackWithDefaultsForWhatIsMissingOrOutOfRange) {
    const std::string path = SettingsFilePath();
    EXPECT_EQ(qEnvironmentVariable("XDG_CONFIG_HOME").toStdString() + "/kavaroxp/kavaroxp.conf",
              path);
    QDir().mkpath(QString::fromStdString(path).section('/', 0, -2));
    std::ofstream(path) << "[relay]\nurl=rtmp://h/a/k\nenabled=true\nwidth=99999\nheight=x\n";
    ::chmod(path.c_str(), 0644);
    TRelayChoice read = LoadRelayChoice();
    EXPECT_TRUE(read.Enabled);
    EXPECT_EQ("rtmp://h/a/k", read.Settings.Url);
    EXPECT_EQ(640, read.Settings.Width);
    EXPECT_EQ(480, read.Settings.Height);
    EXPECT_EQ(1500, read.Settings.VideoKbps);

    // A file others could read is made private before the key goes in.
    read.Settings.Width = 1280;
    SaveRelayChoice(read);
    EXPECT_EQ(0600, ModeOf(path));
    EXPECT_EQ(1280, LoadRelayChoice().Settings.Width);
    read.Enabled = false;
    EXPECT_FALSE(RelayForBroadcast(read));
    read.Enabled = true;
    read.Settings.Url.clear();
    EXPECT_FALSE(RelayForBroadcast(read));
    EXPECT_THROW(SaveRelayChoice(read, "/proc/kavaroxp/kavaroxp.conf"), Exception);
    std::remove(path.c_str());
}

TEST(RelaySettings, SetFromTheFileMenuAndShownWhileBroadcasting) {
    TDesktopCapture desktop;
    const std::string path = SettingsFilePath();
    std::remove(path.c_str());
    TMainForm form;
    EXPECT_EQ(form.file1->IndexOf(form.filerelay1), 3); // after the watch page's two and "viewers"

    // A bad address keeps the dialog open and says why.
    bool sawError = false;
    OnDialog([&](TRelayDialog& d) {
        d.ed_url->setText("ftp://host/x");
        d.cb_enabled->setChecked(true);
        d.accept();
        sawError =
            d.isVisible() && !d.lb_error->isHidden() && d.lb_error->text().contains("rtmp://");
        d.reject();
    });
    form.filerelay1->Click();
    EXPECT_TRUE(sawError);
    EXPECT_EQ(-1, ModeOf(path)); // cancelled: nothing written

    // Nothing listens on the relay's port: the broadcast runs, the relay retries.
    const int deadPort = FreePort();
    OnDialog([&](TRelayDialog& d) {
        EXPECT_EQ(QLineEdit::Password, d.ed_url->echoMode());
        d.ed_url->setText(QString("rtmp://127.0.0.1:%1/live/secretkey99").arg(deadPort));
        d.cb_enabled->setChecked(true);
        d.cb_quality->setCurrentIndex(0);
        d.accept();
    });
    form.filerelay1->Click();
    EXPECT_EQ(0600, ModeOf(path));
    const TRelayChoice saved = LoadRelayChoice();
    EXPECT_TRUE(saved.Enabled);
    EXPECT_EQ(320, saved.Settings.Width);
    EXPECT_EQ(500, saved.Settings.VideoKbps);

    form.videoconnect1->Items(form.videoconnect1->Count() - 1)->Click();
    form.ed_asfport->setText(QString::number(FreePort()));
    form.ed_internalport->setText(QString::number(FreePort()));
    form.bt_broadcast->click();
    ASSERT_TRUE(form.Capture().Broadcasting());
    std::vector<std::string> shown;
    EXPECT_TRUE(PumpUntil([&] {
        shown.push_back(form.StatusBar->PanelText(kRelayPanel));
        return shown.back().rfind("relay: retrying in ", 0) == 0;
    }));
    for (const std::string& text : shown)
        EXPECT_EQ(std::string::npos, text.find("secretkey99")) << text;
    form.bt_broadcast->click();
    EXPECT_EQ("", form.StatusBar->PanelText(kRelayPanel));
    EXPECT_TRUE(desktop.Errors().empty());
    std::remove(path.c_str());
}
