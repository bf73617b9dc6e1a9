#include "app/MainForm.h"

#include "app/AboutForm.h"
#include "app/AccessDialog.h"
#include "app/AddressList.h"
#include "app/DesktopServices.h"
#include "app/MainFormLayout.h"
#include "app/MenuTexts.h"
#include "app/PhoneDialog.h"
#include "app/RelayDialog.h"
#include "app/SettingsFile.h"
#include "app/StatusBar.h"
#include "app/StatusClock.h"
#include "app/ViewerTexts.h"
#include "app/ViewersDialog.h"
#include "app/Widgets.h"
#include "common/Text.h"
#include "media/DeviceWatch.h"
#include "media/MediaErrors.h"
#include "media/VideoWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <exception>
#include <optional>
#include <vector>

namespace {

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

// The direct child of form called name, of the class the description gives it.
template <class W> void Find(QWidget* form, W*& field, const char* name) {
    field = dynamic_cast<W*>(form->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly));
    if (!field) throw Exception(std::string("The main window lacks its control ") + name + ".");
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    BuildControls();
    capture_ = std::make_unique<TCaptureController>(VideoWindow);
    timer_.SetInterval(1); // as fast as the timer goes
    timer_.SetEnabled(false);
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
    BuildMainForm(this);
    Find(this, MenuBar1, "MenuBar1");
    Find(this, sh_background, "sh_background");
    Find(this, VideoWindow, "VideoWindow");
    Find(this, sh_preview, "sh_preview");
    Find(this, bt_preview, "bt_preview");
    Find(this, sh_broadcast, "sh_broadcast");
    Find(this, bt_broadcast, "bt_broadcast");
    Find(this, sh_record, "sh_record");
    Find(this, bt_record, "bt_record");
    Find(this, lb_asfport, "lb_asfport");
    Find(this, ed_asfport, "ed_asfport");
    Find(this, lb_internalport, "lb_internalport");
    Find(this, ed_internalport, "ed_internalport");
    Find(this, lb_width, "lb_width");
    Find(this, ed_width, "ed_width");
    Find(this, lb_height, "lb_height");
    Find(this, ed_height, "ed_height");
    Find(this, lb_ip, "lb_ip");
    Find(this, cb_ip, "cb_ip");
    Find(this, lb_recfile, "lb_recfile");
    Find(this, ed_recfile, "ed_recfile");
    Find(this, lb_quillon, "lb_quillon");
    Find(this, StatusBar, "StatusBar");
}

void TMainForm::WireEvents() {
    connect(bt_preview, &QPushButton::clicked, this,
            [this] { RunHandler([this] { bt_previewClick(bt_preview); }); });
    connect(bt_broadcast, &QPushButton::clicked, this,
            [this] { RunHandler([this] { bt_broadcastClick(bt_broadcast); }); });
    connect(bt_record, &QPushButton::clicked, this,
            [this] { RunHandler([this] { bt_recordClick(bt_record); }); });
    timer_.OnTimer = [this] { RunHandler([this] { TimerTimer(&timer_); }); };
    lb_quillon->OnClick = [this] { RunHandler([this] { lb_quillonClick(lb_quillon); }); };

    // Peer threads read copies of these texts, refreshed on every change.
    TLandingPageSource& page = capture_->LandingTexts();
    auto copy = [this, &page](QLineEdit* edit, void (TLandingPageSource::*set)(std::string)) {
        (page.*set)(Text(edit));
        connect(edit, &QLineEdit::textChanged, this,
                [&page, set](const QString& text) { (page.*set)(text.toStdString()); });
    };
    copy(ed_width, &TLandingPageSource::SetWidth);
    copy(ed_height, &TLandingPageSource::SetHeight);
    page.SetAddress(AnnouncedAddress());
    auto address = [this, &page](const QString&) { page.SetAddress(AnnouncedAddress()); };
    connect(cb_ip, &QComboBox::currentTextChanged, this, address);
    connect(cb_ip, &QComboBox::editTextChanged, this, address);

    SetMediaExceptionHandler([](const std::exception& e) { ShowErrorBox(e.what()); });

    capture_->OnCaptureFailed = [this](const TCaptureFailure& failure) {
        RunHandler([&] { CaptureFailed(failure); });
    };

    relistTimer_.setSingleShot(true);
    relistTimer_.setInterval(kRelistDelayMs);
    connect(&relistTimer_, &QTimer::timeout, this,
            [this] { RunHandler([this] { RelistDevices(); }); });
}

void TMainForm::FormCreate(QObject*) {
    StatusBar->SetDoubleBuffered(true);
    localAddresses_ = &LocalAddressList();
    cb_ip->clear();
    for (const std::string& address : *localAddresses_)
        cb_ip->addItem(QString::fromStdString(address));
    if (cb_ip->count() > 0) cb_ip->setCurrentIndex(0);

    ListDevices();
}

void TMainForm::FormDestroy(QObject*) {
    destroyed_ = true;
    timer_.SetEnabled(false);
    relistTimer_.stop();
    deviceWatch_.reset();
    capture_->Shutdown();
}

void TMainForm::VideoDeviceClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    deviceLossTold_ = false;
    TBusyCursor busy;
    capture_->ChooseVideoDevice(
        item->Tag(),
        MenuList(videoformats1, "ferret", &TMainForm::VideoFormatClick, kVideoFormatPrefix));
    CheckOnly(videoconnect1, item->Tag());
    videoformats1->SetEnabled(true);
}

void TMainForm::AudioDeviceClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    deviceLossTold_ = false;
    TBusyCursor busy;
    capture_->ChooseAudioDevice(
        item->Tag(),
        MenuList(audioformats1, "dog", &TMainForm::AudioFormatClick, kAudioFormatPrefix),
        MenuList(audioinput1, "linedog", &TMainForm::AudioInputClick, nullptr));
    CheckOnly(audioconnect1, item->Tag());
    audioformats1->SetEnabled(true);
    audioinput1->SetEnabled(true);
}

void TMainForm::VideoFormatClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    capture_->ChooseVideoFormat(item->Tag());
    CheckOnly(videoformats1, item->Tag());
}

void TMainForm::AudioFormatClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    capture_->ChooseAudioFormat(item->Tag());
    CheckOnly(audioformats1, item->Tag());
}

void TMainForm::AudioInputClick(QObject* Sender) {
    auto* item = dynamic_cast<TSkinMenuItem*>(Sender);
    if (!item) return;
    capture_->ChooseAudioInput(item->Tag());
    CheckOnly(audioinput1, item->Tag());
}

void TMainForm::Toggle(bool running, void (TMainForm::*start)()) {
    if (running)
        StopCapture();
    else if (capture_->Choices().VideoDevice >= 0) {
        try {
            (this->*start)();
        } catch (const std::exception& e) {
            // The box goes away; the status line keeps saying why nothing runs.
            StatusBar->SetPanelText(0, e.what());
            throw;
        }
    }
}

void TMainForm::bt_previewClick(QObject*) {
    Toggle(capture_->Previewing(), &TMainForm::StartPreview);
}

void TMainForm::bt_broadcastClick(QObject*) {
    Toggle(capture_->Broadcasting(), &TMainForm::StartBroadcast);
}

void TMainForm::bt_recordClick(QObject*) {
    Toggle(capture_->Recording(), &TMainForm::StartRecord);
}

void TMainForm::ShowRunning(TShape* indicator, QPushButton* running) {
    indicator->SetBrushColor(kRunningColour);
    for (QPushButton* b : {bt_record, bt_broadcast, bt_preview})
        if (b != running) b->setEnabled(false);
    deviceLossTold_ = false;
    for (TSkinMenuItem* item :
         {videoconnect1, videoformats1, audioconnect1, audioformats1, audioinput1})
        item->SetEnabled(false);
    timer_.SetEnabled(true);
}

void TMainForm::ShowIdle() {
    timer_.SetEnabled(false);
    filewatch1->SetEnabled(false);
    filephone1->SetEnabled(false);
    fileviewers1->SetEnabled(false);
    if (phoneDialog_) phoneDialog_->hide();
    listen_ = TListenChoice::All;
    if (capture_) capture_->LandingTexts().SetAddress(AnnouncedAddress());
    StatusBar->SetPanelText(1, "");
    StatusBar->SetPanelText(kRelayPanel, {});
    ShowLink("offline");
    for (TShape* s : {sh_broadcast, sh_record, sh_preview})
        s->SetBrushColor(kIdleColour);
    for (TSkinMenuItem* item :
         {videoconnect1, videoformats1, audioconnect1, audioformats1, audioinput1})
        item->SetEnabled(true);
    for (QPushButton* b : {bt_record, bt_broadcast, bt_preview})
        b->setEnabled(true);
    // What went while the mode ran.
    ForgetGoneDevices();
}

void TMainForm::ShowLink(const std::string& text) {
    lb_quillon->setText(QString::fromStdString(text));
    lb_quillon->adjustSize();
}

void TMainForm::CaptureFailed(const TCaptureFailure& failure) {
    const std::optional<TStopReport> report = capture_->StopAfterFailure(failure);
    if (!report) return; // already reported
    deviceLossTold_ = failure.Cause == kDeviceLostCause;
    ShowIdle();
    StatusBar->SetPanelText(0, report->Message);
    ShowErrorBox(report->Message);
}

std::string TMainForm::AnnouncedAddress() const {
    return listen_ == TListenChoice::Local ? std::string(kLocalAddress)
                                           : cb_ip->currentText().toStdString();
}

std::string TMainForm::SiteAddress(int port) const {
    return "http://" + AnnouncedAddress() + ":" + IntToStr(port);
}

std::string TMainForm::ViewerLink(int port, const std::string& path) const {
    const std::string query = capture_->Gate().LinkQuery();
    return SiteAddress(port) + (path.empty() && !query.empty() ? "/" : path) + query;
}

void TMainForm::StartPreview() {
    capture_->StartPreview();
    ShowRunning(sh_preview, bt_preview);
}

void TMainForm::StartBroadcast() {
    TBroadcastSettings asked = BroadcastSettingsFromTexts(Text(ed_asfport), Text(ed_internalport));
    asked.Relay = RelayForBroadcast(LoadRelayChoice());
    const TAccessChoice access = LoadAccessChoice();
    asked.ListenAddress = ListenAddressOf(access.Listen, cb_ip->currentText().toStdString());
    capture_->SetViewerPasswordHash(access.PasswordHash);
    listen_ = access.Listen;
    capture_->LandingTexts().SetAddress(AnnouncedAddress());
    if (asked.Relay) KeepSecretsOutOfCoreDumps();
    asked.Archive.Folder = LoadArchiveFolder();
    LoadWebRtcPorts(asked);
    TBroadcastPorts served;
    try {
        served = capture_->StartBroadcast(asked);
    } catch (...) {
        listen_ = TListenChoice::All;
        capture_->LandingTexts().SetAddress(AnnouncedAddress());
        throw;
    }
    ShowLink("online @ " + SiteAddress(served.HttpPort));
    ShowRunning(sh_broadcast, bt_broadcast);
    filewatch1->SetEnabled(true);
    filephone1->SetEnabled(true);
    fileviewers1->SetEnabled(true);
    StatusBar->SetPanelText(1, ViewersPanelText(0, capture_->MaxViewers()));
}

void TMainForm::StartRecord() {
    const std::string file = Text(ed_recfile);
    if (WouldReplaceFile(file) &&
        !AskQuestion("\"" + file + "\" exists already. Replace it with the new recording?"))
        return;
    capture_->StartRecord(file);
    ShowRunning(sh_record, bt_record);
}

void TMainForm::StopCapture() {
    // The window returns to idle even when a step of the stop fails; the
    // failure is reported afterwards, in the error box.
    const TStopReport report = capture_->StopCapture();
    ShowIdle();
    if (report.StopFailure) std::rethrow_exception(report.StopFailure);
    if (!report.Message.empty()) StatusBar->SetPanelText(0, report.Message);
}

void TMainForm::TimerTimer(QObject*) {
    // A failed read keeps the last text rather than flashing a zero.
    if (const std::optional<int64_t> position = capture_->Position())
        StatusBar->SetPanelText(0, CaptureClockText(*position));
    // The clock ticks 25 times a second; who watches and the relay's state
    // need not be asked that often.
    if (audienceShown_.isValid() && audienceShown_.elapsed() < kAudiencePanelsMs) return;
    audienceShown_.start();
    if (capture_->Broadcasting())
        StatusBar->SetPanelText(
            1, ViewersPanelText(capture_->Viewers().size(), capture_->MaxViewers()));
    StatusBar->SetPanelText(kRelayPanel, capture_->RelayStatusText());
}

std::optional<int> TMainForm::ServingSitePort() const {
    const std::optional<TBroadcastPorts> served = capture_->ServedPorts();
    if (!served || !capture_->LandingSiteServing()) return std::nullopt;
    return served->HttpPort;
}

void TMainForm::lb_quillonClick(QObject*) {
    if (const std::optional<int> port = ServingSitePort()) OpenUrl(ViewerLink(*port, ""));
}

void TMainForm::filewatch1Click(QObject*) {
    if (const std::optional<int> port = ServingSitePort()) OpenUrl(ViewerLink(*port, "/watch"));
}

void TMainForm::filephone1Click(QObject*) {
    const std::optional<int> port = ServingSitePort();
    if (!port) return;
    const std::string address = ViewerLink(*port, "/watch");
    if (!phoneDialog_)
        phoneDialog_ = new TPhoneDialog(address, this);
    else
        phoneDialog_->SetAddress(address);
    phoneDialog_->show();
    phoneDialog_->raise();
}

void TMainForm::fileviewers1Click(QObject*) {
    if (!viewersDialog_) viewersDialog_ = new TViewersDialog(*capture_, this);
    viewersDialog_->show();
    viewersDialog_->raise();
}

void TMainForm::filerelay1Click(QObject*) {
    TRelayDialog dialog(LoadRelayChoice(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    const TRelayChoice choice = dialog.Choice();
    if (!choice.Settings.Url.empty()) KeepSecretsOutOfCoreDumps();
    SaveRelayChoice(choice);
    // A running broadcast follows at once.
    if (capture_->Broadcasting()) capture_->SetRelay(RelayForBroadcast(choice));
}

void TMainForm::fileaccess1Click(QObject*) {
    TAccessDialog dialog(LoadAccessChoice(), cb_ip->currentText(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    const TAccessChoice choice = dialog.Choice();
    SaveAccessChoice(choice);
    // The password applies at once; where to listen, from the next broadcast on.
    capture_->SetViewerPasswordHash(choice.PasswordHash);
    if (phoneDialog_ && phoneDialog_->isVisible()) filephone1Click(filephone1);
}

void TMainForm::aboutabout1Click(QObject*) {
    if (AboutForm) AboutForm->exec();
}

void TMainForm::fileexit1Click(QObject*) {
    close();
    QCoreApplication::quit();
}
