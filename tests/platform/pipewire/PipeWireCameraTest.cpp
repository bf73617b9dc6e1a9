// A virtual camera on a private PipeWire daemon (its own runtime folder and
// D-Bus session bus, WirePlumber as its session manager), published by a
// separate process as a desktop's camera portal would: listed once,
// broadcast as MJPEG 1280 x 720 to an ASF viewer and a browser, and lost
// within 3 s of its publisher being killed.
#include "BroadcastTestSupport.h"
#include "media/SysDevEnum.h"
#include "platform/gst/GstMediaType.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace gsttest;
using namespace bcasttest;

namespace {

const char* kCamera = "KX Virtual Camera";

// A child process in the daemon's environment, killed with the object.
class TChild {
  public:
    explicit TChild(std::vector<std::string> argv, const std::string& log) {
        pid_ = ::fork();
        if (pid_ != 0) return;
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ~TChild() { Kill(SIGTERM); }
    bool Running() { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    void Kill(int sig) {
        if (pid_ <= 0) return;
        ::kill(pid_, sig);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

struct TPipeWire {
    TScratchDir Dir;
    std::unique_ptr<TChild> Bus, Daemon, Session;

    // Empty when it runs, else why not.
    std::string Start() {
        for (const char* tool : {"dbus-daemon", "pipewire", "wireplumber", "gst-launch-1.0"})
            if (std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) != 0)
                return std::string(tool) + " is not installed";
        if (!gst_element_factory_find("pipewiresrc")) return "gstreamer1.0-pipewire is missing";
        const std::string run = Dir.File("run");
        std::filesystem::create_directories(run);
        std::filesystem::permissions(run, std::filesystem::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        ::setenv("PIPEWIRE_RUNTIME_DIR", run.c_str(), 1);
        const std::string bus = "unix:path=" + run + "/bus";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        ::unsetenv("PIPEWIRE_REMOTE");
        Bus = std::make_unique<TChild>(std::vector<std::string>{"dbus-daemon", "--session",
                                                                "--address=" + bus, "--nofork",
                                                                "--nopidfile"},
                                       Dir.File("dbus.log"));
        if (!PumpUntil([&] { return std::filesystem::exists(run + "/bus"); }, 3000))
            return "the D-Bus session bus did not start";
        Daemon = std::make_unique<TChild>(std::vector<std::string>{"pipewire"}, Dir.File("pw.log"));
        if (!PumpUntil([&] { return std::filesystem::exists(run + "/pipewire-0"); }, 5000))
            return "the PipeWire daemon did not start in this container";
        Session =
            std::make_unique<TChild>(std::vector<std::string>{"wireplumber"}, Dir.File("wp.log"));
        PumpFor(1000);
        if (!Session->Running()) return "WirePlumber did not start in this container";
        return {};
    }
    ~TPipeWire() {
        Session.reset();
        Daemon.reset();
        Bus.reset();
    }
};

int Count(const std::string& name) {
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    int n = 0;
    for (int i = 0; i < devices.DeviceCount(); ++i)
        n += devices.GetDevice(i).FriendlyName == name;
    return n;
}

std::string Names() {
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    std::string out;
    for (int i = 0; i < devices.DeviceCount(); ++i)
        out += devices.GetDevice(i).FriendlyName + " (" + devices.GetDevice(i).DevicePath + "); ";
    return out;
}

std::string ReadAll(const std::string& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(PipeWireCamera, ListedOnceBroadcastAndLostWhenItsPublisherGoes) {
    TPipeWire pw;
    if (std::string why = pw.Start(); !why.empty()) GTEST_SKIP() << why;
    TChild publisher({"gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "!",
                      "video/x-raw,width=1280,height=720,framerate=30/1", "!", "jpegenc", "!",
                      "pipewiresink", "mode=provide",
                      // gst-launch joins its arguments: the value is quoted for it.
                      std::string("stream-properties=\"props,media.class=Video/Source,node.name="
                                  "kxcam,node.description=\\\"") +
                          kCamera + "\\\"\""},
                     pw.Dir.File("publisher.log"));
    ASSERT_TRUE(PumpUntil([&] { return Count(kCamera) > 0; }, 8000))
        << "the virtual camera was never listed; listed: " << Names()
        << "\npublisher: " << ReadAll(pw.Dir.File("publisher.log"))
        << "\nwireplumber: " << ReadAll(pw.Dir.File("wp.log"));
    EXPECT_EQ(1, Count(kCamera));
    {
        ComPtr<IBaseFilter> camera = BindDevice(CLSID_VideoInputDeviceCategory, kCamera);
        ASSERT_TRUE(camera);
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(S_OK, PinNamed(camera.Get(), "Capture").Query<IAMStreamConfig>()->GetFormat(&mt));
        EXPECT_EQ("MJPG 1280\u00d7720 at 30 fps", FormatSummary(CapsFromMediaType(*mt).get()));
        DeleteMediaType(mt);
    }

    TBroadcastRig rig(wmp_V80_56Video, true, pw.Dir.File("brim.asf"), 3, 0, kCamera);
    bool lost = false;
    rig.Graph.OnGraphDeviceLost = [&](TFilterGraph*, IUnknown*, bool) { lost = true; };
    ASSERT_EQ(S_OK, rig.VideoResult);
    ASSERT_TRUE(rig.Graph.Run());
    TViewer asf(rig.Writer.Port(), kPlainRequest);
    TViewer browser(rig.Writer.Port(),
                    "GET /live.webm HTTP/1.1\r\nHost: x\r\nOrigin: http://x:8081\r\n\r\n");
    browser.ReadFor(4000);
    asf.ReadFor(500);
    EXPECT_GT(asf.Total(), 10000u);
    EXPECT_NE(std::string::npos, browser.Data().find("video/webm"));
    EXPECT_GT(browser.Total(), 20000u);

    const auto killed = std::chrono::steady_clock::now();
    publisher.Kill(SIGKILL);
    EXPECT_TRUE(PumpUntil([&] { return lost; }, 5000));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count(),
              3.0);
}
