// The window as it opens: every control where the window's description puts
// it, with its texts, colours, fonts and tab order; the menu tree; the
// components' stored values and the address box.
#include "AppTestSupport.h"
#include "app/BroadcastSettings.h"
#include "app/MainForm.h"
#include "app/MainFormLayout.h"
#include "app/StatusBar.h"
#include "app/Widgets.h"
#include "media/VideoWindow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

struct StartUp : ::testing::Test {
    TDesktopCapture desktop;
    TMainForm form;

    QWidget* Control(const TControlLayout& row) {
        return form.findChild<QWidget*>(row.Name, Qt::FindDirectChildrenOnly);
    }
};

QString TextOf(QWidget* w) {
    if (auto* b = dynamic_cast<QPushButton*>(w)) return b->text();
    if (auto* l = dynamic_cast<QLabel*>(w)) return l->text();
    if (auto* e = dynamic_cast<QLineEdit*>(w)) return e->text();
    return {};
}

bool SizesItself(TControlKind kind) {
    return kind == TControlKind::Caption || kind == TControlKind::LinkLabel;
}

TEST_F(StartUp, WindowCaptionPlacementAndColours) {
    const TWindowLayout& window = MainFormWindow();
    EXPECT_EQ(form.windowTitle().toStdString(), window.Caption);
    EXPECT_EQ(form.geometry(), window.Geometry);
    EXPECT_EQ(form.minimumSize(), form.maximumSize()); // not resizable
    EXPECT_EQ(form.palette().color(QPalette::Window), window.Background);
    EXPECT_TRUE(form.font().bold());
    EXPECT_EQ(form.font().pixelSize(), kCaptionFontPixels);
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST_F(StartUp, EveryControlSitsWhereTheLayoutSaysShownAndEnabled) {
    form.show();
    for (const TControlLayout& row : MainFormControls()) {
        QWidget* w = Control(row);
        ASSERT_NE(w, nullptr) << row.Name;
        if (SizesItself(row.Kind)) {
            EXPECT_EQ(w->pos(), row.Rect.topLeft()) << row.Name;
            EXPECT_EQ(w->size(), w->sizeHint()) << row.Name; // fits its text
        } else {
            EXPECT_EQ(w->geometry(), row.Rect) << row.Name;
        }
        EXPECT_TRUE(w->isVisible()) << row.Name;
        EXPECT_TRUE(w->isEnabled()) << row.Name;
        if (!row.Text.empty()) {
            EXPECT_EQ(TextOf(w).toStdString(), row.Text) << row.Name;
        }
        if (row.Font) {
            EXPECT_TRUE(w->font().bold()) << row.Name;
            EXPECT_EQ(w->font().pixelSize(), kCaptionFontPixels) << row.Name;
        }
        if (row.Kind == TControlKind::Caption) {
            EXPECT_EQ(w->palette().color(QPalette::WindowText), QColor(Qt::white)) << row.Name;
        }
        if (row.Kind == TControlKind::Indicator) {
            EXPECT_EQ(dynamic_cast<TShape*>(w)->BrushColor(), kIdleColour) << row.Name;
        }
    }
    // The window's named fields are those controls, in the table's order
    // (later ones lie above earlier ones: a button above its frame).
    const QWidget* fields[] = {
        form.MenuBar1,        form.sh_background, form.VideoWindow,  form.sh_preview,
        form.bt_preview,      form.sh_broadcast,  form.bt_broadcast, form.sh_record,
        form.bt_record,       form.lb_asfport,    form.ed_asfport,   form.lb_internalport,
        form.ed_internalport, form.lb_width,      form.ed_width,     form.lb_height,
        form.ed_height,       form.lb_ip,         form.cb_ip,        form.lb_recfile,
        form.ed_recfile,      form.lb_quillon,    form.StatusBar};
    ASSERT_EQ(std::size(fields), MainFormControls().size());
    for (size_t i = 0; i < std::size(fields); ++i)
        EXPECT_EQ(fields[i]->objectName().toStdString(), MainFormControls()[i].Name);
    for (size_t i = 0; i + 1 < std::size(fields); ++i)
        EXPECT_LT(form.children().indexOf(const_cast<QWidget*>(fields[i])),
                  form.children().indexOf(const_cast<QWidget*>(fields[i + 1])));
}

TEST_F(StartUp, StoredTextsAndIndicators) {
    EXPECT_EQ(form.ed_asfport->text().toStdString(), std::to_string(kDefaultStreamPort));
    EXPECT_EQ(form.ed_internalport->text().toStdString(), std::to_string(kDefaultHttpPort));
    EXPECT_EQ(form.ed_width->text().toStdString(), std::to_string(kDefaultPlayerWidth));
    EXPECT_EQ(form.ed_height->text().toStdString(), std::to_string(kDefaultPlayerHeight));
    EXPECT_EQ(form.ed_recfile->text().toStdString(),
              qgetenv("HOME").toStdString() + "/capture.avi");
    EXPECT_EQ(form.lb_quillon->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(form.sh_background->BrushColor(), QColor(Qt::white));
    EXPECT_EQ(form.StatusBar->PanelCount(), 3);
    EXPECT_EQ(form.StatusBar->PanelWidth(0), kStatusPanelWidth);
    EXPECT_EQ(form.StatusBar->PanelText(kRelayPanel), "");
    EXPECT_TRUE(form.StatusBar->DoubleBuffered());
}

TEST_F(StartUp, TabOrderAsTheLayoutSays) {
    std::map<int, QWidget*> chain;
    for (const TControlLayout& row : MainFormControls())
        if (row.TabOrder >= 0) chain[row.TabOrder] = Control(row);
    ASSERT_EQ(chain.size(), 9u);
    std::vector<QWidget*> expected;
    for (const auto& [order, w] : chain)
        expected.push_back(w);
    for (size_t i = 0; i + 1 < expected.size(); ++i) {
        // The editable combo box's line edit is its focus proxy.
        QWidget* next = expected[i]->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        EXPECT_TRUE(next == expected[i + 1] || next->parentWidget() == expected[i + 1])
            << expected[i]->objectName().toStdString();
    }
}

TEST_F(StartUp, StateAndComponentsStartIdle) {
    EXPECT_EQ(form.Capture().Choices().VideoDevice, -1);
    EXPECT_EQ(form.Capture().Choices().VideoFormat, -1);
    EXPECT_EQ(form.Capture().Choices().AudioDevice, -1);
    EXPECT_EQ(form.Capture().Choices().AudioFormat, -1);
    EXPECT_EQ(form.Capture().Choices().AudioInput, -1);
    EXPECT_FALSE(form.Capture().Broadcasting() || form.Capture().Recording() ||
                 form.Capture().Previewing());
    EXPECT_TRUE(form.Capture().DeviceListsOpen());
    EXPECT_EQ(form.videoformats1->Count(), 0);
    EXPECT_FALSE(form.Timer().Enabled());
    EXPECT_EQ(form.Timer().Interval(), 1);
    EXPECT_FALSE(form.Capture().LandingSiteServing());
    EXPECT_FALSE(form.Capture().ServedPorts().has_value());
    EXPECT_EQ(form.Capture().MaxViewers(), kMaxViewers);
    // The video window shows the capture graph, which is not built yet.
    TFilterGraph* graph = form.VideoWindow->FilterGraph();
    ASSERT_NE(graph, nullptr);
    EXPECT_FALSE(graph->Active());
    EXPECT_FALSE(form.Capture().GraphActive());
    EXPECT_EQ(graph->Mode(), gmCapture);
    EXPECT_TRUE(graph->GraphEdit());
    EXPECT_EQ(form.VideoWindow->Mode(), vmNormal);
    EXPECT_EQ(form.VideoWindow->VMROptions().Streams(), 1u);
    EXPECT_EQ(form.VideoWindow->VMROptions().Preferences(), 0u);
}

TEST_F(StartUp, MenuTreeAsTheLayoutSays) {
    TSkinMenuItem* bar = &form.MainMenu1().Items();
    std::map<std::string, int> siblings; // entries so far under each parent
    for (const TMenuLayout& e : MainFormMenu()) {
        TSkinMenuItem* item = form.MainMenu1().Find(e.Name);
        ASSERT_NE(item, nullptr) << e.Name;
        TSkinMenuItem* parent = e.Parent ? form.MainMenu1().Find(e.Parent) : bar;
        EXPECT_EQ(item->Parent(), parent) << e.Name;
        EXPECT_EQ(parent->IndexOf(item), siblings[e.Parent ? e.Parent : ""]++) << e.Name;
        EXPECT_EQ(item->Caption(), e.Caption) << e.Name;
        EXPECT_EQ(item->Hint(), e.Hint) << e.Name;
        EXPECT_EQ(item->Enabled(), e.EnabledAtStart) << e.Name;
        EXPECT_EQ(item->HasSubmenu(), e.Submenu) << e.Name;
        EXPECT_FALSE(item->Checked()) << e.Name;
    }
    const TSkinMenuItem* fields[] = {form.file1,         form.filewatch1,    form.filephone1,
                                     form.fileviewers1,  form.filerelay1,    form.fileexit1,
                                     form.video1,        form.videoconnect1, form.videoformats1,
                                     form.audio1,        form.audioconnect1, form.audioinput1,
                                     form.audioformats1, form.about2,        form.aboutabout1};
    ASSERT_EQ(std::size(fields), MainFormMenu().size());
    for (size_t i = 0; i < std::size(fields); ++i)
        EXPECT_EQ(fields[i]->Name(), MainFormMenu()[i].Name);
    EXPECT_EQ(form.videoformats1->Count(), 0);
    emit form.videoconnect1->Action()->hovered(); // the user highlights it
    EXPECT_EQ(form.StatusBar->PanelText(0), form.videoconnect1->Hint());
    // The bar shows the top-level entries.
    EXPECT_EQ(form.MenuBar1->actions().size(), bar->Count());
}

TEST_F(StartUp, AddressBoxFilledWithFirstSelected) {
    ASSERT_NE(form.LocalAddresses(), nullptr);
    ASSERT_GT(form.cb_ip->count(), 0);
    EXPECT_EQ(form.cb_ip->count(), form.LocalAddresses()->Count());
    for (int i = 0; i < form.cb_ip->count(); ++i)
        EXPECT_EQ(form.cb_ip->itemText(i).toStdString(), (*form.LocalAddresses())[i]);
    EXPECT_EQ(form.cb_ip->currentIndex(), 0);
    EXPECT_TRUE(form.cb_ip->isEditable());
    EXPECT_EQ(form.cb_ip->view()->sizeHintForRow(0), kAddressItemHeight);
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
