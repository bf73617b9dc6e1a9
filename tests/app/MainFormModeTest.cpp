// The three modes and their state table, driven through the buttons.
#include "AppTestSupport.h"
#include "app/MainForm.h"
#include "app/StatusBar.h"
#include "app/Widgets.h"
#include "common/Text.h"

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);

TSkinMenuItem* LastItem(TSkinMenuItem* submenu) {
    return submenu->Items(submenu->Count() - 1);
}

struct Modes : ::testing::Test {
    TDesktopCapture desktop;
    TMainForm form;

    void ChooseTestDevices(bool audio = true) {
        LastItem(form.videoconnect1)->Click();
        if (audio) LastItem(form.audioconnect1)->Click();
        ASSERT_TRUE(desktop.Errors().empty()) << desktop.Errors().at(0);
    }

    std::vector<TSkinMenuItem*> DeviceEntries() {
        return {form.videoconnect1, form.videoformats1, form.audioconnect1, form.audioformats1,
                form.audioinput1};
    }

    // The idle row of the state table (after a device of each kind was chosen).
    void ExpectIdle() {
        EXPECT_FALSE(form.Capture().Previewing() || form.Capture().Broadcasting() ||
                     form.Capture().Recording());
        for (QPushButton* b : {form.bt_preview, form.bt_broadcast, form.bt_record})
            EXPECT_TRUE(b->isEnabled());
        for (TShape* s : {form.sh_preview, form.sh_broadcast, form.sh_record})
            EXPECT_EQ(s->BrushColor(), kRed);
        for (TSkinMenuItem* item : DeviceEntries())
            EXPECT_TRUE(item->Enabled()) << item->Name();
        EXPECT_FALSE(form.Timer().Enabled());
        EXPECT_FALSE(form.Capture().LandingSiteServing());
        EXPECT_FALSE(form.Capture().GraphActive());
        EXPECT_EQ(form.lb_quillon->text(), "offline");
    }

    // A running row: only the mode's button, its indicator green, entries locked.
    void ExpectRunning(QPushButton* button, TShape* indicator) {
        for (QPushButton* b : {form.bt_preview, form.bt_broadcast, form.bt_record})
            EXPECT_EQ(b->isEnabled(), b == button) << b->objectName().toStdString();
        for (TShape* s : {form.sh_preview, form.sh_broadcast, form.sh_record})
            EXPECT_EQ(s->BrushColor(), s == indicator ? kGreen : kRed)
                << s->objectName().toStdString();
        for (TSkinMenuItem* item : DeviceEntries())
            EXPECT_FALSE(item->Enabled()) << item->Name();
        EXPECT_TRUE(form.Timer().Enabled());
        EXPECT_TRUE(form.Capture().GraphActive());
    }

    std::string TempPath(const std::string& name) {
        return (std::filesystem::temp_directory_path() /
                ("kx_app_" + std::to_string(getpid()) + "_" + name))
            .string();
    }
};

TEST_F(Modes, NothingStartsWithoutAVideoDevice) {
    LastItem(form.audioconnect1)->Click();
    for (QPushButton* b : {form.bt_preview, form.bt_broadcast, form.bt_record})
        b->click();
    EXPECT_FALSE(form.Capture().Previewing() || form.Capture().Broadcasting() ||
                 form.Capture().Recording());
    EXPECT_FALSE(form.Capture().GraphActive());
    EXPECT_FALSE(form.Timer().Enabled());
    EXPECT_EQ(form.sh_preview->BrushColor(), kRed);
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST_F(Modes, PreviewRunsTheClockAndStopsToIdle) {
    ChooseTestDevices();
    form.bt_preview->click();
    ASSERT_TRUE(desktop.Errors().empty()) << desktop.Errors().at(0);
    EXPECT_TRUE(form.Capture().Previewing());
    ExpectRunning(form.bt_preview, form.sh_preview);
    EXPECT_FALSE(form.Capture().LandingSiteServing());
    EXPECT_EQ(form.lb_quillon->text(), "offline");

    const std::regex clock(R"(\d\dh\d\dm\d\ds\d{4}ms)");
    ASSERT_TRUE(PumpUntil([&] { return std::regex_match(form.StatusBar->PanelText(0), clock); }));
    const std::string first = form.StatusBar->PanelText(0);
    ASSERT_TRUE(PumpUntil([&] { return form.StatusBar->PanelText(0) > first; }));
    // What the panel shows follows: a clock text, and a later one.
    ASSERT_TRUE(PumpUntil([&] {
        return std::regex_match(form.StatusBar->ShownText(0).toStdString(), clock) &&
               form.StatusBar->ShownText(0).toStdString() > first;
    }));

    // The test pattern shows in the video area: not a black picture.
    ASSERT_TRUE(PumpUntil([&] {
        const QImage picture = form.VideoWindow->VideoHandle()->grab().toImage();
        for (int y = 0; y < picture.height(); y += 8)
            for (int x = 0; x < picture.width(); x += 8)
                if (qGray(picture.pixel(x, y)) > 64) return true;
        return false;
    }));

    form.bt_preview->click();
    ExpectIdle();
    const std::string last = form.StatusBar->PanelText(0);
    PumpFor(50);
    EXPECT_EQ(form.StatusBar->PanelText(0), last); // the clock keeps its last text
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST_F(Modes, RecordWritesAPlayableAviOfTheChosenFormats) {
    ChooseTestDevices();
    const std::string path = TempPath("record.avi");
    std::filesystem::remove(path);
    form.ed_recfile->setText(QString::fromStdString(path));
    // 176x144 YUY2 video, 22050 Hz mono 16-bit audio.
    int video = -1, audio = -1;
    for (int i = 0; i < form.videoformats1->Count(); ++i)
        if (form.videoformats1->Items(i)->Caption() ==
            "yuy2 format: videoinfo yuy2 176x144, 16 bits, 30 fps")
            video = i;
    for (int i = 0; i < form.audioformats1->Count(); ++i)
        if (form.audioformats1->Items(i)->Caption() == "22050 hertz, 16 bits, 1 channels")
            audio = i;
    ASSERT_GE(video, 0);
    ASSERT_GE(audio, 0);
    form.videoformats1->Items(video)->Click();
    form.audioformats1->Items(audio)->Click();

    form.bt_record->click();
    ASSERT_TRUE(desktop.Errors().empty()) << desktop.Errors().at(0);
    EXPECT_TRUE(form.Capture().Recording());
    ExpectRunning(form.bt_record, form.sh_record);
    PumpFor(2000);
    form.bt_record->click();
    ExpectIdle();
    EXPECT_TRUE(desktop.Errors().empty());

    int status = 0;
    const std::string probe =
        RunCommand("ffprobe -v error -show_entries stream=codec_type,width,height,sample_rate,"
                   "channels -show_entries format=duration -of compact '" +
                       path + "'",
                   &status);
    EXPECT_EQ(status, 0) << probe;
    EXPECT_NE(probe.find("codec_type=video|width=176|height=144"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_type=audio|sample_rate=22050|channels=1"), std::string::npos)
        << probe;
    const std::smatch m = [&] {
        std::smatch r;
        std::regex_search(probe, r, std::regex(R"(duration=([0-9.]+))"));
        return r;
    }();
    ASSERT_FALSE(m.empty()) << probe;
    const double seconds = std::stod(m[1]);
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 6.0);

    // The recording is there now: another one asks first, and No keeps it.
    const auto size = std::filesystem::file_size(path);
    desktop.Answer(false);
    form.bt_record->click();
    ASSERT_EQ(desktop.Questions().size(), 1u);
    EXPECT_NE(desktop.Questions()[0].find("\"" + path + "\" exists already"), std::string::npos)
        << desktop.Questions()[0];
    ExpectIdle();
    EXPECT_EQ(std::filesystem::file_size(path), size);
    desktop.Answer(true);
    form.bt_record->click();
    EXPECT_TRUE(form.Capture().Recording());
    form.bt_record->click();
    ExpectIdle();
    EXPECT_EQ(desktop.Questions().size(), 2u);
    EXPECT_NE(std::filesystem::file_size(path), size); // replaced by the short one
    std::filesystem::remove(path);
}

TEST_F(Modes, UnwritableRecordingPathIsReportedAndWindowRecovers) {
    ChooseTestDevices();
    for (const std::string path : {"/no/such/folder/capture.avi", "", "/proc/capture.avi"}) {
        form.ed_recfile->setText(QString::fromStdString(path));
        form.bt_record->click();
        PumpUntil([&] { return !desktop.Errors().empty(); }, 5000);
        ASSERT_EQ(desktop.Errors().size(), 1u) << "failure of \"" << path << "\" not reported";
        EXPECT_EQ(desktop.Errors()[0].rfind("Could not record to \"" + path + "\": ", 0), 0u)
            << desktop.Errors()[0];
        EXPECT_FALSE(form.Capture().Recording());
        EXPECT_EQ(form.sh_record->BrushColor(), kRed);
        EXPECT_FALSE(form.Timer().Enabled());
        desktop.ClearErrors();
    }
    // The failed start left its graph; the next press of any button works.
    form.bt_preview->click();
    EXPECT_TRUE(form.Capture().Previewing());
    form.bt_preview->click();
    ExpectIdle();
    EXPECT_TRUE(desktop.Errors().empty()) << desktop.Errors().at(0);
}

TEST_F(Modes, ExitDuringRecordingLeavesACompleteFile) {
    const std::string path = TempPath("exit.avi");
    std::filesystem::remove(path);
    {
        TMainForm other;
        LastItem(other.videoconnect1)->Click();
        LastItem(other.audioconnect1)->Click();
        other.ed_recfile->setText(QString::fromStdString(path));
        other.bt_record->click();
        ASSERT_TRUE(other.Capture().Recording());
        PumpFor(1000);
        other.close(); // the window closes while recording
        EXPECT_FALSE(other.Capture().GraphActive());
    }
    int status = 0;
    const std::string probe = RunCommand(
        "ffprobe -v error -show_entries stream=codec_type -of compact '" + path + "'", &status);
    EXPECT_EQ(status, 0) << probe;
    EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_type=audio"), std::string::npos) << probe;
    std::filesystem::remove(path);
}

} // namespace
