#include "app/DeviceListing.h"

#include "app/CommandLine.h"
#include "app/MenuTexts.h"
#include "app/SignalWatcher.h"
#include "media/DeviceWatch.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

TListReceiver Collect(std::vector<std::string>& into) {
    return {[&into] { into.clear(); },
            [&into](int, const std::string& text) { into.push_back(text); }};
}

class TDeviceListing {
  public:
    explicit TDeviceListing(TCaptureController& capture) : capture_(capture) {
        capture_.RelistDevices(Collect(video_), Collect(audio_));
    }

    void PrintAll() {
        for (bool video : {true, false}) {
            std::printf("%s devices:\n", video ? "video" : "audio");
            for (size_t i = 0; i < Names(video).size(); ++i)
                PrintDevice(video, i);
        }
        std::fflush(stdout);
    }

    // Lists again and prints what differs from the last listing. Names are
    // compared as a multiset: two cameras of one model carry one name.
    void PrintChanges() {
        std::vector<std::string> video, audio;
        capture_.RelistDevices(Collect(video), Collect(audio));
        for (bool isVideo : {true, false}) {
            std::vector<std::string>& now = isVideo ? video : audio;
            std::vector<std::string> before = Names(isVideo);
            Names(isVideo) = now;
            for (size_t i = 0; i < now.size(); ++i) {
                const auto known = std::find(before.begin(), before.end(), now[i]);
                if (known != before.end()) {
                    before.erase(known);
                    continue;
                }
                std::printf("%s device added:\n", Kind(isVideo));
                PrintDevice(isVideo, i);
            }
            for (const std::string& name : before)
                std::printf("%s device removed:\n  %s\n", Kind(isVideo), name.c_str());
        }
        std::fflush(stdout);
    }

  private:
    static const char* Kind(bool video) { return video ? "video" : "audio"; }
    std::vector<std::string>& Names(bool video) { return video ? video_ : audio_; }

    void PrintDevice(bool video, size_t index) {
        std::printf("  %s\n", Names(video)[index].c_str());
        std::vector<std::string> formats, lines;
        try {
            if (video)
                capture_.ChooseVideoDevice(static_cast<int>(index), Collect(formats));
            else
                capture_.ChooseAudioDevice(static_cast<int>(index), Collect(formats),
                                           Collect(lines));
        } catch (const std::exception& e) {
            std::printf("    cannot be opened: %s\n", e.what());
            return;
        }
        const char* prefix = video ? kVideoFormatPrefix : kAudioFormatPrefix;
        for (size_t f = 0; f < formats.size(); ++f)
            std::printf("    format %zu: %s\n", f, MenuFormatText(formats[f], prefix).c_str());
        for (size_t l = 0; l < lines.size(); ++l)
            std::printf("    input %zu: %s\n", l, lines[l].c_str());
    }

    TCaptureController& capture_;
    std::vector<std::string> video_, audio_;
};

} // namespace

int ListDevices(TCaptureController& capture, bool watch, double seconds) {
    TDeviceListing listing(capture);
    if (!watch) {
        listing.PrintAll();
        return kExitOk;
    }
    // Watching from before the listing: a device plugged in meanwhile is
    // either in it or reported after it.
    QTimer relist;
    relist.setSingleShot(true);
    relist.setInterval(150); // a burst of changes is listed once
    TDeviceWatch deviceWatch([&relist](const TDeviceChange&) { relist.start(); });
    listing.PrintAll();
    if (!deviceWatch.Running()) {
        std::fprintf(stderr, "Devices plugged in or taken away cannot be watched here.\n");
        return kExitFailed;
    }
    std::printf("watching for devices plugged in or taken away (Ctrl+C ends)\n");
    std::fflush(stdout);
    int status = kExitOk;
    QObject::connect(&relist, &QTimer::timeout, [&] {
        try {
            listing.PrintChanges();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            status = kExitFailed;
            QCoreApplication::exit(status);
        }
    });
    TSignalWatcher watcher;
    QObject::connect(&watcher, &TSignalWatcher::Signalled, [] { QCoreApplication::exit(kExitOk); });
    if (seconds > 0)
        QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer,
                           [] { QCoreApplication::exit(kExitOk); });
    QCoreApplication::exec();
    return status;
}
