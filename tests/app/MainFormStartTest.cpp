// The window as it opens: controls, geometry, colours, fonts, tab order, the
// menu tree and the address box.
#include "AppTestSupport.h"
#include "app/MainForm.h"
#include "app/StatusBar.h"
#include "app/Widgets.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

struct StartUp : ::testing::Test {
    TDesktopCapture desktop;
    TMainForm form;
};

TEST_F(StartUp, WindowCaptionPlacementAndColours) {
    EXPECT_EQ(form.windowTitle().toStdString(), "[:: kavaroXP beta 3 ::]");
    EXPECT_EQ(form.geometry(), QRect(85, 353, 543, 298));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()); // not resizable
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(10, 78, 160));
    EXPECT_TRUE(form.font().bold());
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST_F(StartUp, ControlsSitWhereDesigned) {
    struct Expect {
        QWidget* w;
        QRect r;
    } expected[] = {
        {form.MenuBar1, {0, 0, 543, 19}},           {form.sh_background, {6, 24, 277, 221}},
        {form.VideoWindow, {8, 26, 273, 217}},      {form.sh_preview, {296, 32, 100, 31}},
        {form.bt_preview, {299, 35, 94, 25}},       {form.sh_broadcast, {296, 72, 100, 31}},
        {form.bt_broadcast, {299, 75, 94, 25}},     {form.sh_record, {296, 112, 100, 31}},
        {form.bt_record, {299, 115, 94, 25}},       {form.ed_asfport, {416, 40, 121, 21}},
        {form.ed_internalport, {416, 80, 121, 21}}, {form.ed_width, {416, 128, 121, 21}},
        {form.ed_height, {416, 168, 121, 21}},      {form.cb_ip, {288, 168, 121, 21}},
        {form.ed_recfile, {288, 224, 249, 21}},     {form.StatusBar, {0, 279, 543, 19}},
    };
    for (const auto& e : expected)
        EXPECT_EQ(e.w->geometry(), e.r) << e.w->objectName().toStdString();
    EXPECT_EQ(form.lb_quillon->pos(), QPoint(8, 256));
    const std::pair<QLabel*, QPoint> labels[] = {
        {form.lb_asfport, {416, 24}}, {form.lb_internalport, {416, 64}},
        {form.lb_width, {416, 112}},  {form.lb_height, {416, 152}},
        {form.lb_ip, {288, 152}},     {form.lb_recfile, {288, 208}}};
    for (const auto& [label, pos] : labels) {
        EXPECT_EQ(label->pos(), pos) << label->text().toStdString();
        EXPECT_TRUE(label->font().bold());
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    }
}

TEST_F(StartUp, CaptionsTextsAndIndicators) {
    EXPECT_EQ(form.bt_preview->text(), "preview");
    EXPECT_EQ(form.bt_broadcast->text(), "broadcast");
    EXPECT_EQ(form.bt_record->text(), "record");
    EXPECT_EQ(form.lb_asfport->text(), "asf port");
    EXPECT_EQ(form.lb_internalport->text(), "http port");
    EXPECT_EQ(form.lb_width->text(), "width");
    EXPECT_EQ(form.lb_height->text(), "height");
    EXPECT_EQ(form.lb_ip->text(), "IP");
    EXPECT_EQ(form.lb_recfile->text(), "recording file");
    EXPECT_EQ(form.ed_asfport->text(), "8000");
    EXPECT_EQ(form.ed_internalport->text(), "8081");
    EXPECT_EQ(form.ed_width->text(), "320");
    EXPECT_EQ(form.ed_height->text(), "300");
    EXPECT_EQ(form.ed_recfile->text().toStdString(),
              qgetenv("HOME").toStdString() + "/capture.avi");
    EXPECT_EQ(form.lb_quillon->text(), "offline");
    EXPECT_EQ(form.lb_quillon->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(form.lb_quillon->font().bold());
    for (TShape* s : {form.sh_preview, form.sh_broadcast, form.sh_record})
        EXPECT_EQ(s->BrushColor(), QColor(255, 0, 0));
    EXPECT_EQ(form.sh_background->BrushColor(), QColor(Qt::white));
    EXPECT_EQ(form.StatusBar->PanelCount(), 1);
    EXPECT_EQ(form.StatusBar->PanelWidth(0), 250);
    EXPECT_TRUE(form.StatusBar->DoubleBuffered());
}

TEST_F(StartUp, TabOrderAsDesigned) {
    QWidget* expected[] = {form.bt_broadcast, form.bt_record,  form.ed_width,
                           form.ed_height,    form.ed_asfport, form.ed_internalport,
                           form.ed_recfile,   form.bt_preview, form.cb_ip};
    for (size_t i = 0; i + 1 < std::size(expected); ++i) {
        // The editable combo box's line edit is its focus proxy.
        QWidget* next = expected[i]->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        EXPECT_TRUE(next == expected[i + 1] || next->parentWidget() == expected[i + 1])
            << expected[i]->objectName().toStdString();
    }
}

TEST_F(StartUp, StateAndComponentsStartIdle) {
    EXPECT_EQ(form.SelectedVideoDevice, -1);
    EXPECT_EQ(form.SelectedVideoFormat, -1);
    EXPECT_EQ(form.SelectedAudioDevice, -1);
    EXPECT_EQ(form.SelectedAudioFormat, -1);
    EXPECT_EQ(form.SelectedAudioInput, -1);
    EXPECT_FALSE(form.Broadcasting || form.Recording || form.Previewing);
    ASSERT_TRUE(form.DeviceEnumerator && form.VideoFormats && form.AudioFormats);
    EXPECT_EQ(form.VideoFormats->Count(), 0);
    EXPECT_FALSE(form.Timer.Enabled());
    EXPECT_EQ(form.Timer.Interval(), 1);
    EXPECT_FALSE(form.httpServer.Active());
    EXPECT_EQ(form.httpServer.DefaultPort(), 8081);
    EXPECT_EQ(form.httpServer.ListenQueue, 99);
    EXPECT_EQ(form.httpServer.TerminateWaitTime, 7500);
    EXPECT_FALSE(form.CaptureGraph.Active());
    EXPECT_EQ(form.CaptureGraph.Mode(), gmCapture);
    EXPECT_TRUE(form.CaptureGraph.GraphEdit());
    EXPECT_EQ(form.brimASF.Port(), 8000);
    EXPECT_EQ(form.brimASF.MaxUsers(), 3);
    EXPECT_EQ(form.brimASF.FileName(), "brim.asf");
    EXPECT_EQ(form.brimASF.FilterGraph(), &form.CaptureGraph);
    EXPECT_EQ(form.VideoSourceFilter.BaseFilter().DataLength(), 0u);
    EXPECT_EQ(form.VideoSourceFilter.FilterGraph(), nullptr);
    EXPECT_EQ(form.VideoWindow->FilterGraph(), &form.CaptureGraph);
    EXPECT_EQ(form.VideoWindow->Mode(), vmNormal);
    EXPECT_EQ(form.VideoWindow->VMROptions().Streams(), 1u);
    EXPECT_EQ(form.VideoWindow->VMROptions().Preferences(), 0u);
}

TEST_F(StartUp, MenuTreeWithHintsAndEnabledStates) {
    struct Expect {
        TSkinMenuItem* item;
        const char* name;
        TSkinMenuItem* parent;
        const char* caption;
        const char* hint;
        bool enabled;
    };
    const char* about =
        "displays the version number of this program and copyright, legal, and licensing notices";
    TSkinMenuItem* bar = &form.MainMenu1.Items();
    const Expect expected[] = {
        {form.file1, "file1", bar, "&file", "system menu", true},
        {form.fileexit1, "fileexit1", form.file1, "e&xit", "exits the software", true},
        {form.video1, "video1", bar, "&video", "video source options", true},
        {form.videoconnect1, "videoconnect1", form.video1, "&connect", "select the video source",
         true},
        {form.videoformats1, "videoformats1", form.video1, "&formats", "select the video format",
         false},
        {form.audio1, "audio1", bar, "&audio", "audio source options", true},
        {form.audioconnect1, "audioconnect1", form.audio1, "&connect", "select the audio source",
         true},
        {form.audioinput1, "audioinput1", form.audio1, "&input", "select the audio input", false},
        {form.audioformats1, "audioformats1", form.audio1, "&formats", "select the audio format",
         false},
        {form.about2, "about2", bar, "&about", about, true},
        {form.aboutabout1, "aboutabout1", form.about2, "&about", about, true},
    };
    for (const auto& e : expected) {
        ASSERT_NE(e.item, nullptr) << e.name;
        EXPECT_EQ(e.item->Name(), e.name);
        EXPECT_EQ(e.item->Parent(), e.parent) << e.name;
        EXPECT_EQ(e.item->Caption(), e.caption) << e.name;
        EXPECT_EQ(e.item->Hint(), e.hint) << e.name;
        EXPECT_EQ(e.item->Enabled(), e.enabled) << e.name;
        EXPECT_FALSE(e.item->Checked()) << e.name;
    }
    EXPECT_EQ(bar->Count(), 4);
    EXPECT_EQ(form.video1->IndexOf(form.videoformats1), 1);
    EXPECT_EQ(form.audio1->IndexOf(form.audioinput1), 1);
    EXPECT_EQ(form.audio1->IndexOf(form.audioformats1), 2);
    EXPECT_EQ(form.videoformats1->Count(), 0);
    emit form.videoconnect1->Action()->hovered(); // the user highlights it
    EXPECT_EQ(form.StatusBar->PanelText(0), "select the video source");
    // The bar shows the four top-level entries.
    EXPECT_EQ(form.MenuBar1->actions().size(), 4);
}

TEST_F(StartUp, AddressBoxFilledWithFirstSelected) {
    ASSERT_NE(form.LocalAddresses, nullptr);
    ASSERT_GT(form.cb_ip->count(), 0);
    EXPECT_EQ(form.cb_ip->count(), form.LocalAddresses->Count());
    for (int i = 0; i < form.cb_ip->count(); ++i)
        EXPECT_EQ(form.cb_ip->itemText(i).toStdString(), (*form.LocalAddresses)[i]);
    EXPECT_EQ(form.cb_ip->currentIndex(), 0);
    EXPECT_TRUE(form.cb_ip->isEditable());
    EXPECT_EQ(form.cb_ip->view()->sizeHintForRow(0), 13);
}

TEST_F(StartUp, DeviceMenusListTheTestDevicesInLowerCase) {
    ASSERT_GE(form.videoconnect1->Count(), 1);
    TSkinMenuItem* last = form.videoconnect1->Items(form.videoconnect1->Count() - 1);
    EXPECT_EQ(last->Caption(), "test pattern");
    EXPECT_EQ(last->Name(), "hamster" + std::to_string(form.videoconnect1->Count() - 1));
    EXPECT_EQ(last->Tag(), form.videoconnect1->Count() - 1);
    ASSERT_GE(form.audioconnect1->Count(), 1);
    TSkinMenuItem* tone = form.audioconnect1->Items(form.audioconnect1->Count() - 1);
    EXPECT_EQ(tone->Caption(), "test tone");
    EXPECT_EQ(tone->Name(), "kitty" + std::to_string(form.audioconnect1->Count() - 1));
    for (int i = 0; i < form.videoconnect1->Count(); ++i) {
        TSkinMenuItem* item = form.videoconnect1->Items(i);
        EXPECT_EQ(item->Tag(), i);
        EXPECT_TRUE(item->Enabled());
        EXPECT_FALSE(item->Checked());
        EXPECT_EQ(item->Caption(), QString::fromStdString(item->Caption()).toLower().toStdString());
    }
}

} // namespace
