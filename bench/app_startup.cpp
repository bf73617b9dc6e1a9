// What a user waits for and what the program costs at rest and while
// previewing:
//   app_startup [--seconds N]
// prints the time from process start to the main window shown, resident
// memory idle and while previewing the Test Pattern, and the CPU of the
// preview (the 1 ms status clock included) against the bare capture-and-render
// pipeline run in the same process, taking turns for three rounds of N seconds
// each (default 10). The headless row: the real program started with
// --broadcast and no display, the time from exec to its stream port
// answering, and its resident memory while it broadcasts to nobody.
#include "BenchSupport.h"
#include "GstReferencePreview.h"
#include "app/AboutForm.h"
#include "app/MainForm.h"
#include "app/SkinMenu.h"
#include "platform/gst/GstRegistration.h"
#include "platform/stream/WMWriterNetworkSink.h"
#include "support/EventPump.h"
#include "support/RealProgram.h"
#include "support/TestPorts.h"

#include <QApplication>
#include <QPushButton>
#include <QWindow>
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 3;

double ProcessRssMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

double RssMb() {
    return ProcessRssMb(getpid());
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// CPU seconds per second of wall time while the event loop runs: the whole
// process, and the user interface thread alone (where the status clock and
// the painting run).
struct TLoad {
    double Process = 0;
    double Ui = 0;
};

TLoad CpuLoad(int seconds) {
    const double cpu = CpuSeconds(), ui = ThreadCpuSeconds();
    const auto start = Clock::now();
    RunEventLoopFor(seconds * 1000);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return {(CpuSeconds() - cpu) / wall, (ThreadCpuSeconds() - ui) / wall};
}

int Child(int shownFd, int seconds, int argc, char** argv) {
    QApplication app(argc, argv);
    RegisterGstPlatform();
    RegisterWriterNetworkSink();
    TMainForm form;
    TAboutForm about(&form);
    form.SetAboutForm(&about);
    form.show();
    while (!form.windowHandle() || !form.windowHandle()->isExposed())
        RunEventLoopFor(1);
    if (write(shownFd, "shown\n", 6) != 6) return 1;
    close(shownFd);

    RunEventLoopFor(2000);
    const double idleRss = RssMb();

    TSkinMenuItem* devices = form.videoconnect1;
    if (devices->Count() == 0) {
        std::fprintf(stderr, "no video device listed\n");
        return 1;
    }
    devices->Items(devices->Count() - 1)->Click(); // the Test Pattern comes last

    QWidget host;
    host.resize(273, 217); // the main window's video area
    host.show();
    TGstReferencePreview bare(&host);

    // Preview and bare pipeline take turns, so a busy stretch of the machine
    // weighs on both; each load is the median of its rounds.
    std::vector<double> previewLoads, bareLoads, previewUi, bareUi;
    double previewRss = 0;
    for (int round = 0; round < kRounds; ++round) {
        form.bt_preview->click();
        RunEventLoopFor(1000); // settle
        const TLoad preview = CpuLoad(seconds);
        previewLoads.push_back(preview.Process);
        previewUi.push_back(preview.Ui);
        previewRss = std::max(previewRss, RssMb());
        form.bt_preview->click();
        RunEventLoopFor(300);

        std::string error;
        if (!bare.Start(error)) {
            std::fprintf(stderr, "bare pipeline: %s\n", error.c_str());
            return 1;
        }
        RunEventLoopFor(1000);
        const TLoad bareRound = CpuLoad(seconds);
        bareLoads.push_back(bareRound.Process);
        bareUi.push_back(bareRound.Ui);
        bare.Stop();
        RunEventLoopFor(300);
    }
    const double previewLoad = Median(previewLoads), bareLoad = Median(bareLoads);

    std::printf("idle_rss_mb=%.1f\n", idleRss);
    std::printf("preview_rss_mb=%.1f\n", previewRss);
    std::printf("preview_cpu=%.4f bare_cpu=%.4f (CPU seconds per second, median of %d rounds "
                "of %d s)\n",
                previewLoad, bareLoad, kRounds, seconds);
    std::printf("preview_ui_cpu=%.4f bare_ui_cpu=%.4f (the user interface thread alone)\n",
                Median(previewUi), Median(bareUi));
    std::printf("preview_cpu_ratio=%.3f\n", bareLoad > 0 ? previewLoad / bareLoad : 0.0);
    return 0;
}

// The baseline of the headless row, in a fresh process: the same encoders
// and multiplexer in a bare pipeline, its resident memory after 3 s.
int BaselineChild() {
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        "asfmux name=mux streamable=true ! fakesink sync=false "
        "videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=15/1 ! "
        "videoconvert ! avenc_wmv2 bitrate=40000 ! queue ! mux. "
        "audiotestsrc is-live=true ! audioconvert ! audioresample ! avenc_wmav2 ! queue ! mux.",
        &error);
    if (!pipeline) return 1;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    usleep(3000 * 1000);
    std::printf("%.1f\n", RssMb());
    std::fflush(stdout);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return 0;
}

double BaselineRssMb(const char* self) {
    const std::string command = std::string(self) + " --baseline-child";
    FILE* child = popen(command.c_str(), "r");
    double mb = 0;
    if (child && std::fscanf(child, "%lf", &mb) != 1) mb = 0;
    if (child) pclose(child);
    return mb;
}

// The program without a window, in a scratch folder (its archive goes there).
int HeadlessRow(const char* self) {
    TWorkDir folder;
    const int asfPort = FreePort(), httpPort = FreePort();
    const auto start = Clock::now();
    TRealProgram program(folder.Path(),
                         {"--broadcast", "--asf-port", std::to_string(asfPort), "--http-port",
                          std::to_string(httpPort), "--address", "127.0.0.1", "--seconds", "30"});
    const bool up =
        WaitForPort(asfPort, std::chrono::seconds(20), [&] { return !program.Running(); });
    const double portMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (up) {
        usleep(3000 * 1000); // settled: encoders running, nobody watching
        const double rss = ProcessRssMb(program.Pid()), baseline = BaselineRssMb(self);
        std::printf("headless_port_ms=%.1f (goal < 500)\n", portMs);
        std::printf("headless_idle_rss_mb=%.1f (goal < 60) baseline_rss_mb=%.1f (the same "
                    "encoders in a bare pipeline)\n",
                    rss, baseline);
        std::printf("headless_rss_ratio=%.3f\n", baseline > 0 ? rss / baseline : 0.0);
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "headless: the stream port never answered\n%s\n",
                     program.Log().c_str());
    }
    program.Signal(SIGTERM);
    const int status = program.WaitExit(std::chrono::seconds(30));
    return up && status == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--baseline-child") == 0) return BaselineChild();
    int seconds = 10;
    int shownFd = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--child") == 0)
            shownFd = std::atoi(argv[++i]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (shownFd >= 0) return Child(shownFd, seconds, argc, argv);

    // The parent times a fresh process from its start to the window shown.
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]), secs = std::to_string(seconds);
        execl("/proc/self/exe", argv[0], "--child", fd.c_str(), "--seconds", secs.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buf[16];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    const double shownMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (n > 0) {
        std::printf("window_shown_ms=%.1f\n", shownMs);
        std::fflush(stdout);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const int window = n > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    const int headless = HeadlessRow(argv[0]);
    return window != 0 ? window : headless;
}
