#include "app/MainForm.h"

#include "app/AboutForm.h"
#include "app/AddressList.h"
#include "app/DesktopServices.h"
#include "app/StatusBar.h"
#include "app/StatusClock.h"
#include "app/Widgets.h"
#include "common/DateTime.h"
#include "common/Stream.h"
#include "common/Text.h"
#include "media/MediaErrors.h"
#include "media/PinList.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace {

const QColor kIdleColour(255, 0, 0);
const QColor kRunningColour(0, 128, 0);
const char* const kVideoFormatPrefix = "Major Type: Video - Sub Type: ";
const char* const kAudioFormatPrefix =
    "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, ";

// The hourglass over a synchronous media call; restored also when it fails.
class TBusyCursor {
  public:
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

// A port box's number, or def when the text is not an integer. A number
// outside 1..65535 would be cut to some other port by the socket layer, so
// it is refused with a message instead.
int ReadPort(const std::string& text, int def) {
    const int port = StrToIntDef(text, def);
    if (port < 1 || port > 65535)
        throw Exception("\"" + text + "\" is not a valid port number (1 to 65535).");
    return port;
}

// Removes prefix where it first occurs, then lowers the case (the whole
// text when the prefix is absent).
std::string MenuFormatText(std::string text, const std::string& prefix) {
    const size_t at = text.find(prefix);
    if (at != std::string::npos) text.erase(at, prefix.size());
    return QString::fromStdString(text).toLower().toStdString();
}

// The component's platform filter; a component without one raises (E_NOINTERFACE).
template <class C> ComPtr<IBaseFilter> FilterOf(C& component) {
    ComPtr<IBaseFilter> filter;
    CheckMediaResult(component.QueryInterface(IID_IBaseFilter, filter.PutVoid()));
    return filter;
}

template <class T> ComPtr<T> Require(const ComPtr<IPin>& pin) {
    ComPtr<T> out;
    CheckMediaResult(pin ? pin->QueryInterface(T::Iid, out.PutVoid()) : E_POINTER);
    return out;
}

QLabel* MakeCaption(QWidget* parent, const char* text, int left, int top) {
    QLabel* label = Child<QLabel>(parent, QString::fromLatin1(text));
    label->setFont(NamedFont("Verdana", 11, true));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const char* text, int left, int top,
                    int width) {
    QLineEdit* edit = Child<QLineEdit>(parent, QString::fromLatin1(text));
    edit->setObjectName(name);
    edit->setGeometry(left, top, width, 21);
    return edit;
}

// Runs every step of a teardown even when one fails, keeping the first
// failure to report at the end.
class TFirstError {
  public:
    template <class F> void Step(F&& step) {
        try {
            step();
        } catch (...) {
            if (!first_) first_ = std::current_exception();
        }
    }
    void Rethrow() const {
        if (first_) std::rethrow_exception(first_);
    }

  private:
    std::exception_ptr first_;
};

// The window's icon: the indicator frames' colours on the window's blue.
QIcon ProgramIcon() {
    QPixmap picture(32, 32);
    picture.fill(QColor(10, 78, 160));
    QPainter painter(&picture);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 0, 0));
    painter.drawEllipse(4, 4, 24, 24);
    painter.setBrush(QColor(0, 128, 0));
    painter.drawEllipse(10, 10, 12, 12);
    painter.end();
    return QIcon(picture);
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    BuildControls();
    BuildMenu();
    WireEvents();
    RunHandler([this] { FormCreate(this); });
}

TMainForm::~TMainForm() {
    if (!destroyed_) RunHandler([this] { FormDestroy(this); });
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // Closing the window ends the run: stop and finalise now, while the
    // event loop can still deliver the graph's last messages.
    if (!destroyed_) {
        RunHandler([this] { FormDestroy(this); });
        destroyed_ = true;
    }
    event->accept();
}

void TMainForm::BuildControls() {
    setObjectName("MainForm");
    setWindowTitle("[:: kavaroXP beta 3 ::]");
    setGeometry(85, 353, 543, 298);
    setFixedSize(543, 298);
    setFont(NamedFont("Verdana", 11, true));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(10, 78, 160));
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    setWindowIcon(ProgramIcon());

    MenuBar1 = Child<TSkinMenuBar>(this);
    MenuBar1->setObjectName("MenuBar1");
    MenuBar1->setGeometry(0, 0, 543, 19);
    MenuBar1->setFixedSize(543, 19); // aligned to the top, never resized by its contents

    sh_background = Child<TShape>(this);
    sh_background->setObjectName("sh_background");
    sh_background->setGeometry(6, 24, 277, 221);

    VideoWindow = Child<TVideoWindow>(this);
    VideoWindow->SetName("VideoWindow");
    VideoWindow->setGeometry(8, 26, 273, 217);

    auto indicator = [this](const char* name, int top) {
        TShape* shape = Child<TShape>(this);
        shape->setObjectName(name);
        shape->setGeometry(296, top, 100, 31);
        shape->SetBrushColor(kIdleColour);
        return shape;
    };
    auto button = [this](const char* name, const char* caption, int top) {
        QPushButton* b = Child<QPushButton>(this, QString::fromLatin1(caption));
        b->setObjectName(name);
        b->setGeometry(299, top, 94, 25);
        b->setAutoDefault(false);
        return b;
    };
    sh_preview = indicator("sh_preview", 32);
    bt_preview = button("bt_preview", "preview", 35);
    sh_broadcast = indicator("sh_broadcast", 72);
    bt_broadcast = button("bt_broadcast", "broadcast", 75);
    sh_record = indicator("sh_record", 112);
    bt_record = button("bt_record", "record", 115);

    lb_asfport = MakeCaption(this, "asf port", 416, 24);
    ed_asfport = MakeEdit(this, "ed_asfport", "8000", 416, 40, 121);
    lb_internalport = MakeCaption(this, "http port", 416, 64);
    ed_internalport = MakeEdit(this, "ed_internalport", "8081", 416, 80, 121);
    lb_width = MakeCaption(this, "width", 416, 112);
    ed_width = MakeEdit(this, "ed_width", "320", 416, 128, 121);
    lb_height = MakeCaption(this, "height", 416, 152);
    ed_height = MakeEdit(this, "ed_height", "300", 416, 168, 121);
    lb_ip = MakeCaption(this, "IP", 288, 152);
    cb_ip = Child<QComboBox>(this);
    cb_ip->setObjectName("cb_ip");
    cb_ip->setEditable(true);
    cb_ip->setInsertPolicy(QComboBox::NoInsert);
    cb_ip->setGeometry(288, 168, 121, 21);
    cb_ip->setItemDelegate(Child<TFixedHeightItems>(cb_ip, 13));
    lb_recfile = MakeCaption(this, "recording file", 288, 208);
    // The design's "c:\capture.avi" has no meaning here: the home folder.
    const QByteArray home = qgetenv("HOME");
    const std::string recfile =
        (home.isEmpty() ? std::string(".") : home.toStdString()) + "/capture.avi";
    ed_recfile = MakeEdit(this, "ed_recfile", recfile.c_str(), 288, 224, 249);
    for (QLabel* l : {lb_asfport, lb_internalport, lb_width, lb_height, lb_ip, lb_recfile})
        l->setObjectName(QString("lb_") + (l == lb_asfport        ? "asfport"
                                           : l == lb_internalport ? "internalport"
                                           : l == lb_width        ? "width"
                                           : l == lb_height       ? "height"
                                           : l == lb_ip           ? "ip"
                                                                  : "recfile"));

    lb_quillon = Child<TClickLabel>(this);
    lb_quillon->setObjectName("lb_quillon");
    lb_quillon->setGeometry(8, 256, 35, 13);
    lb_quillon->setFont(NamedFont("Tahoma", 11, true));
    lb_quillon->setCursor(Qt::PointingHandCursor);
    lb_quillon->setText("offline");
    lb_quillon->adjustSize(); // labels size themselves to their caption

    StatusBar = Child<TStatusBar>(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setGeometry(0, 279, 543, 19);
    StatusBar->AddPanel(250);

    // Tab order as designed: broadcast, record, width, height, asf port,
    // http port, recording file, preview, address.
    const QWidget* order[] = {bt_broadcast,    bt_record,  ed_width,   ed_height, ed_asfport,
                              ed_internalport, ed_recfile, bt_preview, cb_ip};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));

    // Non-visual components and their stored values.
    CaptureGraph.SetMode(gmCapture);
    CaptureGraph.SetGraphEdit(true);
    VideoWindow->SetFilterGraph(&CaptureGraph);
    VideoWindow->VMROptions().SetMode(vmrWindowed);
    VideoWindow->VMROptions().SetStreams(1);
    VideoWindow->VMROptions().SetPreferences(0);
    VideoWindow->SetColor(Qt::black);
    brimASF.SetFilterGraph(&CaptureGraph);
    brimASF.SetProfile(wmp_V80_56VideoOnly);
    brimASF.SetFileName("brim.asf");
    brimASF.SetPort(8000);
    brimASF.SetMaxUsers(3);
    Timer.SetInterval(1); // as fast as the timer goes
    Timer.SetEnabled(false);

    httpServer.CommandHandlersEnabled = false;
    httpServer.SetDefaultPort(8081);
    httpServer.ListenQueue = 99;
    httpServer.TerminateWaitTime = 7500;
    httpServer.SetThreadMgr(&NetThreadManager);
    httpServer.SessionTimeOut = 120000;
    httpServer.Greeting.SetNumericCode(-1);
    httpServer.MaxConnectionReply.SetNumericCode(0);
    httpServer.MaxConnections = TNetCustomHTTPServer::kDefaultMaxConnections;
    httpServer.EvictWaitingAtLimit = true;
    httpServer.ReplyExceptionCode = 0;
    httpServer.ReplyUnknownCommand.SetNumericCode(0);
}

std::unique_ptr<TSkinMenuItem> TMainForm::MakeItem(const std::string& name,
                                                   const std::string& caption, int tag,
                                                   void (TMainForm::*handler)(QObject*)) {
    auto item = std::make_unique<TSkinMenuItem>(name, caption, tag);
    if (handler)
        item->OnClick = [this, handler](TSkinMenuItem* sender) {
            RunHandler([&] { (this->*handler)(sender); });
        };
    return item;
}

void TMainForm::BuildMenu() {
    TSkinMenuItem& bar = MainMenu1.Items();
    auto submenu = [this](TSkinMenuItem& parent, const char* name, const char* caption,
                          const char* hint) {
        TSkinMenuItem* item = parent.Add(MakeItem(name, caption, 0, nullptr));
        item->SetHint(hint);
        item->MakeSubmenu();
        return item;
    };
    auto command = [this](TSkinMenuItem& parent, const char* name, const char* caption,
                          const char* hint, void (TMainForm::*handler)(QObject*)) {
        TSkinMenuItem* item = parent.Add(MakeItem(name, caption, 0, handler));
        item->SetHint(hint);
        return item;
    };
    const char* aboutHint =
        "displays the version number of this program and copyright, legal, and licensing notices";
    file1 = submenu(bar, "file1", "&file", "system menu");
    fileexit1 =
        command(*file1, "fileexit1", "e&xit", "exits the software", &TMainForm::fileexit1Click);
    video1 = submenu(bar, "video1", "&video", "video source options");
    videoconnect1 = submenu(*video1, "videoconnect1", "&connect", "select the video source");
    videoformats1 = submenu(*video1, "videoformats1", "&formats", "select the video format");
    videoformats1->SetEnabled(false);
    audio1 = submenu(bar, "audio1", "&audio", "audio source options");
    audioconnect1 = submenu(*audio1, "audioconnect1", "&connect", "select the audio source");
    audioinput1 = submenu(*audio1, "audioinput1", "&input", "select the audio input");
    audioinput1->SetEnabled(false);
    audioformats1 = submenu(*audio1, "audioformats1", "&formats", "select the audio format");
    audioformats1->SetEnabled(false);
    about2 = submenu(bar, "about2", "&about", aboutHint);
    aboutabout1 =
        command(*about2, "aboutabout1", "&about", aboutHint, &TMainForm::aboutabout1Click);

    MainMenu1.StatusBar = StatusBar;
    MainMenu1.StatusBarIndex = 0;
    MainMenu1.SetAnimatedSkin(&BlueSkin1);
    MenuBar1->SetMainMenu(&MainMenu1);
}

void TMainForm::WireEvents() {
    connect(bt_preview, &QPushButton::clicked, this,
            [this] { RunHandler([this] { bt_previewClick(bt_preview); }); });
    connect(bt_broadcast, &QPushButton::clicked, this,
            [this] { RunHandler([this] { bt_broadcastClick(bt_broadcast); }); });
    connect(bt_record, &QPushButton::clicked, this,
            [this] { RunHandler([this] { bt_recordClick(bt_record); }); });
    Timer.OnTimer = [this] { RunHandler([this] { TimerTimer(&Timer); }); };
    lb_quillon->OnClick = [this] { RunHandler([this] { lb_quillonClick(lb_quillon); }); };

    // Peer threads read copies of these texts, refreshed on every change.
    auto copy = [this](QLineEdit* edit, void (TLandingPageSource::*set)(std::string)) {
        (LandingTexts.*set)(Text(edit));
        connect(edit, &QLineEdit::textChanged, this,
                [this, set](const QString& text) { (LandingTexts.*set)(text.toStdString()); });
    };
    copy(ed_width, &TLandingPageSource::SetWidth);
    copy(ed_height, &TLandingPageSource::SetHeight);
    copy(ed_asfport, &TLandingPageSource::SetAsfPort);
    LandingTexts.SetAddress(cb_ip->currentText().toStdString());
    connect(cb_ip, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { LandingTexts.SetAddress(text.toStdString()); });
    connect(cb_ip, &QComboBox::editTextChanged, this,
            [this](const QString& text) { LandingTexts.SetAddress(text.toStdString()); });

    httpServer.OnCommandGet = [this](TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                                     TNetHTTPResponseInfo& response) {
        httpServerCommandGet(thread, request, response);
    };
    SetMediaExceptionHandler([](const std::exception& e) { ShowErrorBox(e.what()); });
}

void TMainForm::FormCreate(QObject*) {
    StatusBar->SetDoubleBuffered(true);
    Broadcasting = false;
    Recording = false;
    Previewing = false;
    LocalAddresses = &LocalAddressList();
    cb_ip->clear();
    for (const std::string& address : *LocalAddresses)
        cb_ip->addItem(QString::fromStdString(address));
    if (cb_ip->count() > 0) cb_ip->setCurrentIndex(0);
    DeviceEnumerator = std::make_unique<TSysDevEnum>(CLSID_VideoInputDeviceCategory);
    SelectedVideoDevice = SelectedVideoFormat = SelectedAudioDevice = SelectedAudioFormat =
        SelectedAudioInput = -1;

    auto listDevices = [this](TSkinMenuItem* submenu, const char* prefix,
                              void (TMainForm::*handler)(QObject*)) {
        submenu->Clear();
        for (int n = 0; n < DeviceEnumerator->DeviceCount(); ++n) {
            const std::string caption =
                QString::fromStdString(DeviceEnumerator->GetDevice(n).FriendlyName)
                    .toLower()
                    .toStdString();
            submenu->Add(MakeItem(prefix + IntToStr(n), caption, n, handler));
        }
    };
    listDevices(videoconnect1, "hamster", &TMainForm::VideoDeviceClick);
    DeviceEnumerator->SelectCategory(CLSID_AudioInputDeviceCategory);
    listDevices(audioconnect1, "kitty", &TMainForm::AudioDeviceClick);
    VideoFormats = std::make_unique<TEnumMediaType>();
    AudioFormats = std::make_unique<TEnumMediaType>();
}

void TMainForm::FormDestroy(QObject*) {
    destroyed_ = true;
    Timer.SetEnabled(false);
    // The graph is stopped before the server so that a recording or the
    // broadcast archive is finished even when a viewer holds on.
    TFirstError errors;
    if (CaptureGraph.Active()) {
        errors.Step([this] { CaptureGraph.Stop(); });
        errors.Step([this] { CaptureGraph.SetActive(false); });
    }
    errors.Step([this] { httpServer.SetActive(false); });
    DeviceEnumerator.reset();
    VideoFormats.reset();
    AudioFormats.reset();
    errors.Rethrow();
}

void TMainForm::ResetGraph() {
    if (!CaptureGraph.Active()) return;
    // The graph is being discarded: a failing stop must not keep it alive.
    TFirstError ignored;
    ignored.Step([this] { CaptureGraph.Stop(); });
    CaptureGraph.SetActive(false);
}

void TMainForm::OpenSourceDevice(TFilter& source, const GUID& category, int device) {
    DeviceEnumerator->SelectCategory(category);
    source.BaseFilter().AssignMoniker(DeviceEnumerator->GetDeviceMoniker(device).Get());
    source.SetFilterGraph(&CaptureGraph);
    CaptureGraph.SetActive(true);
}

void TMainForm::CheckOnly(TSkinMenuItem* submenu, int index) {
    for (int i = 0; i < submenu->Count(); ++i)
        submenu->Items(i)->SetChecked(false);
    if (TSkinMenuItem* item = submenu->Items(index)) item->SetChecked(true);
}

void TMainForm::VideoDeviceClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    TBusyCursor busy;
    ResetGraph();
    SelectedVideoDevice = item->Tag();
    SelectedVideoFormat = -1;
    OpenSourceDevice(VideoSourceFilter, CLSID_VideoInputDeviceCategory, SelectedVideoDevice);
    TPinList pins(FilterOf(VideoSourceFilter).Get());
    videoformats1->Clear();
    VideoFormats->AssignPin(pins.FirstPin().Get());
    for (int n = 0; n < VideoFormats->Count(); ++n)
        videoformats1->Add(MakeItem("ferret" + IntToStr(n),
                                    MenuFormatText(VideoFormats->FormatText(n), kVideoFormatPrefix),
                                    n, &TMainForm::VideoFormatClick));
    CaptureGraph.SetActive(false);
    CheckOnly(videoconnect1, SelectedVideoDevice);
    videoformats1->SetEnabled(true);
}

void TMainForm::AudioDeviceClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    TBusyCursor busy;
    ResetGraph();
    SelectedAudioDevice = item->Tag();
    SelectedAudioInput = -1;
    SelectedAudioFormat = -1;
    OpenSourceDevice(AudioSourceFilter, CLSID_AudioInputDeviceCategory, SelectedAudioDevice);
    TPinList pins(FilterOf(AudioSourceFilter).Get());
    audioformats1->Clear();
    // Output pins give the formats (the last one wins); the input pins,
    // the device's lines, stay in the list in their order. A device without
    // an output pin must not show the formats of the device chosen before.
    AudioFormats->Clear();
    for (int i = 0; i < pins.Count();) {
        TPinInfo info;
        pins.PinInfoAt(i, info.Record);
        if (info.Record.dir == PINDIR_OUTPUT) {
            AudioFormats->AssignPin(pins.PinAt(i).Get());
            pins.Delete(i);
        } else {
            ++i;
        }
    }
    for (int n = 0; n < AudioFormats->Count(); ++n)
        audioformats1->Add(MakeItem("dog" + IntToStr(n),
                                    MenuFormatText(AudioFormats->FormatText(n), kAudioFormatPrefix),
                                    n, &TMainForm::AudioFormatClick));
    CaptureGraph.SetActive(false);
    audioinput1->Clear();
    for (int n = 0; n < pins.Count(); ++n) {
        TPinInfo info;
        pins.PinInfoAt(n, info.Record);
        audioinput1->Add(
            MakeItem("linedog" + IntToStr(n), info.Record.achName, n, &TMainForm::AudioInputClick));
        BOOL enabled = 0;
        Require<IAMAudioInputMixer>(pins.PinAt(n))->get_Enable(&enabled);
        if (enabled) SelectedAudioInput = n;
    }
    CheckOnly(audioconnect1, SelectedAudioDevice);
    audioformats1->SetEnabled(true);
    audioinput1->SetEnabled(true);
}

void TMainForm::VideoFormatClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    SelectedVideoFormat = item->Tag();
    CheckOnly(videoformats1, SelectedVideoFormat);
}

void TMainForm::AudioFormatClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    SelectedAudioFormat = item->Tag();
    CheckOnly(audioformats1, SelectedAudioFormat);
}

void TMainForm::AudioInputClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    SelectedAudioInput = item->Tag();
    CheckOnly(audioinput1, SelectedAudioInput);
}

void TMainForm::bt_previewClick(QObject*) {
    if (Previewing)
        StopCapture();
    else if (SelectedVideoDevice >= 0)
        StartPreview();
}

void TMainForm::bt_broadcastClick(QObject*) {
    if (Broadcasting)
        StopCapture();
    else if (SelectedVideoDevice >= 0)
        StartBroadcast();
}

void TMainForm::bt_recordClick(QObject*) {
    if (Recording)
        StopCapture();
    else if (SelectedVideoDevice >= 0)
        StartRecord();
}

void TMainForm::ApplyChoices() {
    if (AudioSourceFilter.FilterGraph()) {
        TPinList pins(FilterOf(AudioSourceFilter).Get());
        for (int i = 0; i < pins.Count();) {
            TPinInfo info;
            pins.PinInfoAt(i, info.Record);
            if (info.Record.dir != PINDIR_OUTPUT) {
                ++i;
                continue;
            }
            if (SelectedAudioFormat != -1)
                Require<IAMStreamConfig>(pins.PinAt(i))
                    ->SetFormat(&AudioFormats->MediaTypeAt(SelectedAudioFormat).MediaTypeRecord());
            pins.Delete(i);
        }
        if (SelectedAudioInput != -1)
            Require<IAMAudioInputMixer>(pins.PinAt(SelectedAudioInput))->put_Enable(-1);
    }
    if (VideoSourceFilter.FilterGraph()) {
        TPinList pins(FilterOf(VideoSourceFilter).Get());
        if (SelectedVideoFormat != -1)
            Require<IAMStreamConfig>(pins.FirstPin())
                ->SetFormat(&VideoFormats->MediaTypeAt(SelectedVideoFormat).MediaTypeRecord());
    }
}

namespace {
ComPtr<ICaptureGraphBuilder2> BuilderOf(TFilterGraph& graph) {
    ComPtr<ICaptureGraphBuilder2> builder;
    CheckMediaResult(graph.QueryInterface(IID_ICaptureGraphBuilder2, builder.PutVoid()));
    return builder;
}
} // namespace

void TMainForm::LockControls(QPushButton* running) {
    for (QPushButton* b : {bt_record, bt_broadcast, bt_preview})
        if (b != running) b->setEnabled(false);
    for (TSkinMenuItem* item :
         {videoconnect1, videoformats1, audioconnect1, audioformats1, audioinput1})
        item->SetEnabled(false);
    Timer.SetEnabled(true);
}

ComPtr<ICaptureGraphBuilder2> TMainForm::PrepareGraph() {
    ResetGraph();
    CaptureGraph.SetActive(true);
    ApplyChoices();
    return BuilderOf(CaptureGraph);
}

void TMainForm::RenderPreview(ICaptureGraphBuilder2* builder) {
    if (VideoSourceFilter.BaseFilter().DataLength() != 0)
        CheckMediaResult(builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                                               FilterOf(VideoSourceFilter).Get(), nullptr,
                                               FilterOf(*VideoWindow).Get()));
}

void TMainForm::StartPreview() {
    brimASF.SetFilterGraph(nullptr);
    ComPtr<ICaptureGraphBuilder2> builder = PrepareGraph();
    RenderPreview(builder.Get());
    CaptureGraph.Run();
    sh_preview->SetBrushColor(kRunningColour);
    Previewing = true;
    LockControls(bt_preview);
}

void TMainForm::StartBroadcast() {
    brimASF.SetPort(static_cast<uint32_t>(ReadPort(Text(ed_asfport), 8000)));
    const int httpPort = RequestedHttpPort();
    brimASF.SetFilterGraph(&CaptureGraph);
    brimASF.SetProfile(SelectedAudioDevice >= 0 ? wmp_V80_56Video : wmp_V80_56VideoOnly);
    ComPtr<ICaptureGraphBuilder2> builder = PrepareGraph();
    RenderPreview(builder.Get());
    if (VideoSourceFilter.FilterGraph())
        CheckMediaResult(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                               FilterOf(VideoSourceFilter).Get(), nullptr,
                                               FilterOf(brimASF).Get()));
    if (AudioSourceFilter.FilterGraph())
        CheckMediaResult(builder->RenderStream(nullptr, &MEDIATYPE_Audio,
                                               FilterOf(AudioSourceFilter).Get(), nullptr,
                                               FilterOf(brimASF).Get()));
    CaptureGraph.Run();
    httpServer.SetDefaultPort(httpPort);
    httpServer.SetActive(true);
    lb_quillon->setText(QString::fromStdString(
        "online @ http://" + cb_ip->currentText().toStdString() + ":" + IntToStr(httpPort)));
    lb_quillon->adjustSize();
    sh_broadcast->SetBrushColor(kRunningColour);
    Broadcasting = true;
    LockControls(bt_broadcast);
}

void TMainForm::StartRecord() {
    const std::string fileName = Text(ed_recfile);
    brimASF.SetFilterGraph(nullptr);
    ComPtr<ICaptureGraphBuilder2> builder = PrepareGraph();
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    // A file that cannot be made must not leave a "recording" that records
    // nothing: unlike the other unchecked steps, this one is reported.
    const HRESULT hr =
        builder->SetOutputFileName(&MEDIASUBTYPE_Avi, fileName, mux.Put(), sink.Put());
    if (fileName.empty() || FAILED(hr) || !mux)
        throw Exception("Could not record to \"" + fileName + "\": " +
                        (fileName.empty() ? std::string("no file name given.")
                                          : MediaErrorText(FAILED(hr) ? hr : E_POINTER)));
    RenderPreview(builder.Get());
    if (VideoSourceFilter.FilterGraph())
        builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, FilterOf(VideoSourceFilter).Get(),
                              nullptr, mux.Get());
    if (AudioSourceFilter.FilterGraph())
        builder->RenderStream(nullptr, nullptr, FilterOf(AudioSourceFilter).Get(), nullptr,
                              mux.Get());
    try {
        CaptureGraph.Run();
    } catch (const std::exception& e) {
        // The platform's text alone ("Access is denied.") does not say which file.
        throw Exception("Could not record to \"" + fileName + "\": " + e.what());
    }
    sh_record->SetBrushColor(kRunningColour);
    Recording = true;
    LockControls(bt_record);
}

void TMainForm::StopCapture() {
    // Every step runs even when an earlier one fails, so that the window
    // always returns to idle; the first failure is reported afterwards.
    TFirstError errors;
    errors.Step([this] { CaptureGraph.Stop(); });
    errors.Step([this] { CaptureGraph.SetActive(false); });
    Timer.SetEnabled(false);
    Broadcasting = Recording = Previewing = false;
    errors.Step([this] { httpServer.SetActive(false); });
    lb_quillon->setText("offline");
    lb_quillon->adjustSize();
    for (TShape* s : {sh_broadcast, sh_record, sh_preview})
        s->SetBrushColor(kIdleColour);
    for (TSkinMenuItem* item :
         {videoconnect1, videoformats1, audioconnect1, audioformats1, audioinput1})
        item->SetEnabled(true);
    for (QPushButton* b : {bt_record, bt_broadcast, bt_preview})
        b->setEnabled(true);
    errors.Rethrow();
}

void TMainForm::TimerTimer(QObject*) {
    if (!CaptureGraph.Active()) return;
    ComPtr<IMediaSeeking> seeking;
    CaptureGraph.QueryInterface(IID_IMediaSeeking, seeking.PutVoid());
    LONGLONG position = 0;
    // A failed read keeps the last text rather than flashing a zero.
    if (!seeking || FAILED(seeking->GetCurrentPosition(&position))) return;
    StatusBar->SetPanelText(0, CaptureClockText(position));
}

int TMainForm::RequestedHttpPort() const {
    return ReadPort(Text(ed_internalport), 8081);
}

void TMainForm::httpServerCommandGet(TNetPeerThread&, TNetHTTPRequestInfo& ARequestInfo,
                                     TNetHTTPResponseInfo& AResponseInfo) {
    AResponseInfo.CacheControl = "no-cache, must revalidate";
    AResponseInfo.Pragma = "no-cache";
    const TDateTime now = Now();
    AResponseInfo.Expires = now - EncodeTime(0, 23, 0, 0);
    AResponseInfo.Date = now;
    if (ARequestInfo.Target != "/") return; // the server sends the header alone
    const std::string page = BuildLandingPage(LandingTexts.Snapshot());
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
    stream->SetPosition(0);
    AResponseInfo.ContentLength = stream->Size();
    AResponseInfo.SetContentSource(std::move(stream));
    AResponseInfo.ContentType = "text/html";
    AResponseInfo.SendHeader();
    AResponseInfo.SendContent();
}

void TMainForm::lb_quillonClick(QObject*) {
    if (!httpServer.Active()) return;
    OpenUrl("http://" + cb_ip->currentText().toStdString() + ":" + IntToStr(RequestedHttpPort()));
}

void TMainForm::aboutabout1Click(QObject*) {
    if (AboutForm) AboutForm->exec();
}

void TMainForm::fileexit1Click(QObject*) {
    close();
    QCoreApplication::quit();
}
