#include "app/MainFormLayout.h"

#include "app/BroadcastSettings.h"
#include "app/SkinMenu.h"
#include "app/StatusBar.h"
#include "app/Widgets.h"
#include "media/VideoWindow.h"

#include <QByteArray>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>
#include <utility>
#include <vector>

std::string DefaultRecordingPath() {
    const QByteArray home = qgetenv("HOME");
    return (home.isEmpty() ? std::string(".") : home.toStdString()) + "/capture.avi";
}

const TWindowLayout& MainFormWindow() {
    static const TWindowLayout window{"[:: kavaroXP beta 3 ::]", QRect(85, 353, 543, 298),
                                      QColor(10, 78, 160), "Verdana"};
    return window;
}

std::span<const TControlLayout> MainFormControls() {
    using K = TControlKind;
    static const std::vector<TControlLayout> controls = {
        {"MenuBar1", K::MenuBar, {0, 0, 543, 19}},
        {"sh_background", K::Shape, {6, 24, 277, 221}},
        {"VideoWindow", K::VideoWindow, {8, 26, 273, 217}},
        {"sh_preview", K::Indicator, {296, 32, 100, 31}},
        {"bt_preview", K::Button, {299, 35, 94, 25}, "preview", 10},
        {"sh_broadcast", K::Indicator, {296, 72, 100, 31}},
        {"bt_broadcast", K::Button, {299, 75, 94, 25}, "broadcast", 3},
        {"sh_record", K::Indicator, {296, 112, 100, 31}},
        {"bt_record", K::Button, {299, 115, 94, 25}, "record", 4},
        {"lb_asfport", K::Caption, {416, 24, 0, 0}, "asf port", -1, "Verdana"},
        {"ed_asfport", K::Edit, {416, 40, 121, 21}, std::to_string(kDefaultStreamPort), 7},
        {"lb_internalport", K::Caption, {416, 64, 0, 0}, "http port", -1, "Verdana"},
        {"ed_internalport", K::Edit, {416, 80, 121, 21}, std::to_string(kDefaultHttpPort), 8},
        {"lb_width", K::Caption, {416, 112, 0, 0}, "width", -1, "Verdana"},
        {"ed_width", K::Edit, {416, 128, 121, 21}, std::to_string(kDefaultPlayerWidth), 5},
        {"lb_height", K::Caption, {416, 152, 0, 0}, "height", -1, "Verdana"},
        {"ed_height", K::Edit, {416, 168, 121, 21}, std::to_string(kDefaultPlayerHeight), 6},
        {"lb_ip", K::Caption, {288, 152, 0, 0}, "IP", -1, "Verdana"},
        {"cb_ip", K::AddressBox, {288, 168, 121, 21}, "", 11},
        {"lb_recfile", K::Caption, {288, 208, 0, 0}, "recording file", -1, "Verdana"},
        {"ed_recfile", K::Edit, {288, 224, 249, 21}, DefaultRecordingPath(), 9},
        {"lb_quillon", K::LinkLabel, {8, 256, 35, 13}, "offline", -1, "Tahoma"},
        {"StatusBar", K::StatusBar, {0, 279, 543, 19}},
    };
    return controls;
}

std::span<const TMenuLayout> MainFormMenu() {
    static const char* const about =
        "displays the version number of this program and copyright, legal, and licensing notices";
    static const TMenuLayout menu[] = {
        {"file1", nullptr, "&file", "system menu", true, true},
        {"filewatch1", "file1", "&watch in browser",
         "opens the broadcast's watch page in the web browser", false, false},
        {"filephone1", "file1", "watch on a &phone…",
         "shows the watch page's address as a code for a phone's camera", false, false},
        {"fileviewers1", "file1", "&viewers",
         "lists who watches the broadcast and disconnects a viewer", false, false},
        {"filerelay1", "file1", "&relay…", "relay the broadcast to an RTMP or Icecast server", true,
         false},
        {"fileexit1", "file1", "e&xit", "exits the software", true, false},
        {"video1", nullptr, "&video", "video source options", true, true},
        {"videoconnect1", "video1", "&connect", "select the video source", true, true},
        {"videoformats1", "video1", "&formats", "select the video format", false, true},
        {"audio1", nullptr, "&audio", "audio source options", true, true},
        {"audioconnect1", "audio1", "&connect", "select the audio source", true, true},
        {"audioinput1", "audio1", "&input", "select the audio input", false, true},
        {"audioformats1", "audio1", "&formats", "select the audio format", false, true},
        {"about2", nullptr, "&about", about, true, true},
        {"aboutabout1", "about2", "&about", about, true, false},
    };
    return menu;
}

namespace {

// The window's icon: the indicator frames' colours on the window's blue.
QIcon ProgramIcon() {
    QPixmap picture(32, 32);
    picture.fill(MainFormWindow().Background);
    QPainter painter(&picture);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kIdleColour);
    painter.drawEllipse(4, 4, 24, 24);
    painter.setBrush(kRunningColour);
    painter.drawEllipse(10, 10, 12, 12);
    painter.end();
    return QIcon(picture);
}

QWidget* BuildControl(QWidget* form, const TControlLayout& control) {
    const QString text = QString::fromStdString(control.Text);
    QWidget* widget = nullptr;
    switch (control.Kind) {
    case TControlKind::MenuBar:
        widget = Child<TSkinMenuBar>(form);
        widget->setFixedSize(control.Rect.size()); // aligned to the top, never resized
        break;
    case TControlKind::Shape:
        widget = Child<TShape>(form);
        break;
    case TControlKind::VideoWindow: {
        auto* video = Child<TVideoWindow>(form);
        video->VMROptions().SetMode(vmrWindowed);
        video->VMROptions().SetStreams(1);
        video->VMROptions().SetPreferences(0);
        video->SetColor(Qt::black);
        widget = video;
        break;
    }
    case TControlKind::Indicator:
        widget = Child<TShape>(form);
        static_cast<TShape*>(widget)->SetBrushColor(kIdleColour);
        break;
    case TControlKind::Button:
        widget = Child<QPushButton>(form, text);
        static_cast<QPushButton*>(widget)->setAutoDefault(false);
        break;
    case TControlKind::Caption:
        widget = Child<QLabel>(form, text);
        break;
    case TControlKind::Edit:
        widget = Child<QLineEdit>(form, text);
        break;
    case TControlKind::AddressBox: {
        auto* box = Child<QComboBox>(form);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setItemDelegate(Child<TFixedHeightItems>(box, kAddressItemHeight));
        widget = box;
        break;
    }
    case TControlKind::LinkLabel:
        widget = Child<TClickLabel>(form);
        widget->setCursor(Qt::PointingHandCursor);
        static_cast<QLabel*>(widget)->setText(text);
        break;
    case TControlKind::StatusBar:
        widget = Child<TStatusBar>(form);
        static_cast<TStatusBar*>(widget)->AddPanel(kStatusPanelWidth);
        static_cast<TStatusBar*>(widget)->AddPanel(kViewersPanelWidth);
        static_cast<TStatusBar*>(widget)->AddPanel(kRelayPanelWidth);
        break;
    }
    widget->setObjectName(control.Name);
    if (control.Font) widget->setFont(NamedFont(control.Font, kCaptionFontPixels, true));
    widget->setGeometry(control.Rect);
    // Labels size themselves to their caption.
    if (control.Kind == TControlKind::Caption || control.Kind == TControlKind::LinkLabel)
        widget->adjustSize();
    return widget;
}

} // namespace

void BuildMainForm(QWidget* form) {
    const TWindowLayout& window = MainFormWindow();
    form->setObjectName("MainForm");
    form->setWindowTitle(window.Caption);
    form->setGeometry(window.Geometry);
    form->setFixedSize(window.Geometry.size());
    form->setFont(NamedFont(window.FontFamily, kCaptionFontPixels, true));
    QPalette pal = form->palette();
    pal.setColor(QPalette::Window, window.Background);
    pal.setColor(QPalette::WindowText, Qt::white);
    form->setPalette(pal);
    form->setAutoFillBackground(true);
    form->setWindowIcon(ProgramIcon());

    std::vector<std::pair<int, QWidget*>> tabChain;
    for (const TControlLayout& control : MainFormControls()) {
        QWidget* widget = BuildControl(form, control);
        if (control.TabOrder >= 0) tabChain.emplace_back(control.TabOrder, widget);
    }
    std::sort(tabChain.begin(), tabChain.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i + 1 < tabChain.size(); ++i)
        QWidget::setTabOrder(tabChain[i].second, tabChain[i + 1].second);
}
