#include "app/HeadlessRun.h"

#include "app/AddressList.h"
#include "app/CaptureController.h"
#include "app/DeviceListing.h"
#include "app/HeadlessConsole.h"
#include "app/MenuTexts.h"
#include "app/QrCode.h"
#include "app/SettingsFile.h"
#include "app/SignalWatcher.h"
#include "app/StatusClock.h"
#include "app/ViewerPassword.h"
#include "app/ViewerTexts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

// A failure that ends the run before it starts, with its message.
struct TRunError {
    std::string Message;
};

TListReceiver Collect(std::vector<std::string>& into) {
    return {[&into] { into.clear(); },
            [&into](int, const std::string& text) { into.push_back(text); }};
}

bool SameName(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

class THeadlessRun {
  public:
    explicit THeadlessRun(const TCommandLine& line) : line_(line), capture_(nullptr) {}
    int Exec();

  private:
    void ChooseDevices();
    // wanted: the name asked for, else the one used last, else the first listed.
    int ChooseDevice(const std::vector<std::string>& names, const std::string& wanted,
                     const std::string& usedLast, const char* kind);
    void CheckIndex(int index, const std::vector<std::string>& list, const char* what,
                    const std::string& device);
    void Start();
    // The password, the address rules and where to listen, from the options.
    void ApplyAccess(TBroadcastSettings& settings);
    void StartBroadcast();
    // The --seconds timer, in steps a timer can hold.
    void ScheduleStop();
    void Poll();
    // The end of the run: the mode stopped, the report told, the loop left
    // with status (failed when there was anything to tell).
    void Stop();
    void Failed(const TCaptureFailure& failure);
    void Finish(int status, const TStopReport& report);
    std::string Url(const char* scheme, int port, const char* path = "/") const {
        return std::string(scheme) + "://" + address_ + ":" + std::to_string(port) + path;
    }

    const TCommandLine& line_;
    TCaptureController capture_;
    THeadlessConsole console_;
    QDeadlineTimer stopAt_;
    std::vector<std::string> videoNames_, audioNames_;
    std::string address_;
    TBroadcastPorts served_;
    // The viewers as last seen (their address, kind and bytes), and the
    // bytes of those that left.
    std::map<uint64_t, TStreamViewer> viewers_;
    uint64_t bytesOfGone_ = 0;
    std::string relayState_;
    bool stopping_ = false;
};

int THeadlessRun::Exec() {
    int status = kExitOk;
    try {
        // Before anything starts: a signal during the start ends the run
        // once it has started, in order, with complete files.
        TSignalWatcher watcher;
        QObject::connect(&watcher, &TSignalWatcher::Signalled, [this](int) { Stop(); });
        capture_.OpenDeviceLists(Collect(videoNames_), Collect(audioNames_));
        if (line_.Command == TCommand::ListDevices) {
            status = ListDevices(capture_, line_.Watch, line_.Seconds);
        } else {
            ChooseDevices();
            Start();
            capture_.OnCaptureFailed = [this](const TCaptureFailure& f) { Failed(f); };
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [this] { Poll(); });
            poll.start(250);
            if (line_.Seconds > 0) {
                stopAt_.setPreciseRemainingTime(0, static_cast<qint64>(line_.Seconds * 1e9),
                                                Qt::PreciseTimer);
                ScheduleStop();
            }
            Poll();
            status = QCoreApplication::exec();
        }
    } catch (const TRunError& e) {
        console_.Failure(e.Message);
        status = kExitFailed;
    } catch (const std::exception& e) {
        console_.Failure(e.what());
        status = kExitFailed;
    }
    try {
        capture_.Shutdown();
    } catch (const std::exception& e) {
        console_.Failure(e.what());
        status = kExitFailed;
    }
    console_.End();
    return status;
}

int THeadlessRun::ChooseDevice(const std::vector<std::string>& names, const std::string& wanted,
                               const std::string& usedLast, const char* kind) {
    if (wanted.empty() && !usedLast.empty()) {
        // A restart must not fall back to another device (the Test Pattern)
        // and broadcast it as if nothing had happened.
        for (size_t i = 0; i < names.size(); ++i)
            if (SameName(names[i], usedLast)) return static_cast<int>(i);
        throw TRunError{std::string("The ") + kind + " device \"" + usedLast +
                        "\" used last is not connected: connect it again, or name another "
                        "with --" +
                        kind + " (kavaroxp --list-devices shows the names)."};
    }
    if (wanted.empty()) {
        if (names.empty())
            throw TRunError{std::string("No ") + kind + " device is present: connect one."};
        return 0;
    }
    for (size_t i = 0; i < names.size(); ++i)
        if (SameName(names[i], wanted)) return static_cast<int>(i);
    throw TRunError{std::string("No ") + kind + " device is called \"" + wanted +
                    "\": kavaroxp --list-devices shows the names."};
}

void THeadlessRun::CheckIndex(int index, const std::vector<std::string>& list, const char* what,
                              const std::string& device) {
    if (index < 0 || index < static_cast<int>(list.size())) return;
    throw TRunError{"\"" + device + "\" has no " + what + " " + std::to_string(index) +
                    ": kavaroxp --list-devices shows them."};
}

void THeadlessRun::ChooseDevices() {
    std::vector<std::string> formats, lines;
    const TRememberedDevices last = LoadRememberedDevices();
    const int video = ChooseDevice(videoNames_, line_.Video, last.Video, "video");
    capture_.ChooseVideoDevice(video, Collect(formats));
    CheckIndex(line_.VideoFormat, formats, "video format", videoNames_[size_t(video)]);
    if (line_.VideoFormat >= 0) capture_.ChooseVideoFormat(line_.VideoFormat);

    if (SameName(line_.Audio, "none")) return;
    const int audio = ChooseDevice(audioNames_, line_.Audio, last.Audio, "audio");
    capture_.ChooseAudioDevice(audio, Collect(formats), Collect(lines));
    const std::string& name = audioNames_[size_t(audio)];
    CheckIndex(line_.AudioFormat, formats, "audio format", name);
    CheckIndex(line_.AudioInput, lines, "input line", name);
    if (line_.AudioFormat >= 0) capture_.ChooseAudioFormat(line_.AudioFormat);
    if (line_.AudioInput >= 0) capture_.ChooseAudioInput(line_.AudioInput);
}

void THeadlessRun::ScheduleStop() {
    const qint64 left = stopAt_.remainingTime();
    if (left == 0) {
        Stop();
        return;
    }
    QTimer::singleShot(StopTimerStepMs(left), Qt::PreciseTimer, [this] { ScheduleStop(); });
}

void THeadlessRun::Start() {
    if (line_.Command != TCommand::Record) {
        StartBroadcast();
        return;
    }
    if (!line_.Overwrite && WouldReplaceFile(line_.RecordFile))
        throw TRunError{"\"" + line_.RecordFile +
                        "\" exists already: give another name, or --overwrite to replace it."};
    capture_.StartRecord(line_.RecordFile);
    console_.Event("recording to \"" + line_.RecordFile + "\"");
}

void THeadlessRun::StartBroadcast() {
    address_ = line_.Address;
    if (address_.empty()) {
        const TStringList& local = LocalAddressList();
        address_ = local.Count() > 0 ? local[0] : "127.0.0.1";
    }
    TLandingPageSource& page = capture_.LandingTexts();
    page.SetWidth(std::to_string(line_.Width));
    page.SetHeight(std::to_string(line_.Height));
    page.SetAddress(address_);
    TBroadcastSettings settings = line_.Ports;
    if (!line_.Relay.empty()) {
        KeepSecretsOutOfCoreDumps();
        TRelaySettings relay; // the quality the window's settings start with
        relay.Url = line_.Relay;
        settings.Relay = relay;
    }
    ApplyAccess(settings);
    if (!line_.ArchiveFolderGiven) settings.Archive.Folder = LoadArchiveFolder();
    served_ = capture_.StartBroadcast(settings);
    const std::string archive = settings.Archive.Enabled
                                    ? "archive \"" + settings.Archive.File() + "\""
                                    : std::string("no archive");
    // With a password, the links carry its token: they are what viewers get.
    const std::string query = capture_.Gate().LinkQuery();
    const std::string watch = Url("http", served_.HttpPort, "/watch") + query;
    console_.Event("broadcasting: landing page " + Url("http", served_.HttpPort) + query +
                   ", watch page " + watch + ", stream " + Url("mms", served_.StreamPort) + query +
                   ", " + archive + (query.empty() ? "" : ", players log in as user \"viewer\""));
    // A phone's camera reaches the watch page from this.
    if (const auto code = TQrCode::Encode(watch)) console_.Picture(code->TerminalText());
}

void THeadlessRun::ApplyAccess(TBroadcastSettings& settings) {
    settings.ListenAddress = line_.ListenAddress;
    TViewerGate& gate = capture_.Gate();
    for (const std::string& range : line_.Allow)
        gate.Rules().Allow(*TAddressRange::Parse(range));
    for (const std::string& range : line_.Deny)
        gate.Rules().Deny(*TAddressRange::Parse(range));
    if (!line_.PasswordFile.empty())
        capture_.SetViewerPasswordHash(
            HashViewerPassword(ReadViewerPasswordFile(line_.PasswordFile)));
}

void THeadlessRun::Poll() {
    if (stopping_ || !capture_.Running()) return;
    const std::optional<int64_t> position = capture_.Position();
    std::string status = position ? CaptureClockText(*position) : std::string("--");
    if (line_.Command == TCommand::Record) {
        console_.Status(status + "  recording to \"" + line_.RecordFile + "\"");
        return;
    }
    std::map<uint64_t, TStreamViewer> now;
    for (TStreamViewer& v : capture_.Viewers()) {
        if (!viewers_.count(v.Id))
            console_.Event("viewer joined: " + v.Address + " (" + ViewerKindText(v.Kind) + ")");
        now.emplace(v.Id, std::move(v));
    }
    for (const auto& [id, v] : viewers_)
        if (!now.count(id)) {
            bytesOfGone_ += v.BytesSent;
            console_.Event("viewer left: " + v.Address + " (" + ViewerKindText(v.Kind) + ", " +
                           ByteCountText(v.BytesSent) + " sent)");
        }
    viewers_ = std::move(now);
    // The relay's state as it changes (connecting, live, retrying, refused),
    // without its moving figures.
    const std::string relay = capture_.RelayStatusText();
    const std::string relayState = relay.substr(0, relay.find_first_of(",(0123456789"));
    if (relayState != relayState_) {
        relayState_ = relayState;
        if (!relay.empty()) console_.Event(relay);
    }
    uint64_t sent = bytesOfGone_;
    for (const auto& [id, v] : viewers_)
        sent += v.BytesSent;
    console_.Status(status + "  " + ViewersPanelText(viewers_.size(), capture_.MaxViewers()) +
                    "  " + ByteCountText(sent) + " sent  " + Url("http", served_.HttpPort) + "  " +
                    Url("mms", served_.StreamPort));
}

void THeadlessRun::Stop() {
    if (stopping_) return;
    stopping_ = true;
    Finish(kExitOk, capture_.StopCapture());
}

void THeadlessRun::Failed(const TCaptureFailure& failure) {
    if (stopping_) return;
    if (const std::optional<TStopReport> report = capture_.StopAfterFailure(failure)) {
        stopping_ = true;
        Finish(kExitFailed, *report);
    }
}

void THeadlessRun::Finish(int status, const TStopReport& report) {
    console_.ClearStatus();
    if (!report.Message.empty()) {
        console_.Failure(report.Message);
        status = kExitFailed;
    }
    console_.Event("stopped");
    QCoreApplication::exit(status);
}

} // namespace

int StopTimerStepMs(int64_t remainingMs) {
    // A QTimer holds an int of milliseconds: a longer run is timed in steps.
    return static_cast<int>(std::clamp<int64_t>(remainingMs, 0, kLongestStopTimerStepMs));
}

int RunCommandLine(const TCommandLine& line) {
    if (line.Command == TCommand::Help) {
        std::fputs(line.Help.c_str(), stdout);
        return kExitOk;
    }
    if (line.Command == TCommand::Version) {
        std::printf("kavaroXP %s\n", KX_VERSION);
        return kExitOk;
    }
    THeadlessRun run(line);
    return run.Exec();
}
