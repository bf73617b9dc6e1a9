// The real program as an always-on service runs it: restarted again and
// again in one folder, on a disk that fills, with its output piped away,
// in a folder it cannot write, and with a stream key to keep to itself.
#include "ProgramSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sys/stat.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kKey = "SECRETKEY-4f1c9a5678";
const char* const kRelayVariable = "KAVAROXP_RELAY_URL";

// Headless, and the settings file under the run's own home.
TProgramEnvironment ServiceEnvironment() {
    TProgramEnvironment env = TProgramEnvironment::Headless();
    env.Unset.insert(env.Unset.end(), {"XDG_CONFIG_HOME", std::string(kRelayVariable)});
    return env;
}

std::vector<std::string> Broadcast(int seconds) {
    return {"--broadcast",
            "--seconds",
            std::to_string(seconds),
            "--asf-port",
            std::to_string(FreePort()),
            "--http-port",
            std::to_string(FreePort()),
            "--address",
            "127.0.0.1"};
}

// The archives in dir by name, with their sizes.
std::map<std::string, uintmax_t> Archives(const fs::path& dir) {
    std::map<std::string, uintmax_t> found;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".asf") found[e.path().filename().string()] = e.file_size();
    return found;
}

// ffmpeg's complaints on reading the whole file; empty for a clean one.
std::string DecodeErrors(const fs::path& file) {
    return RunTool("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null - 2>&1", 60).Output;
}

// A run that ends by itself; its status, with its output and log kept in text.
int RunToEnd(const fs::path& dir, const std::vector<std::string>& args, std::string& text,
             const TProgramEnvironment& env = ServiceEnvironment()) {
    TRealProgram program(dir, args, env);
    const int status = program.WaitExit();
    text = program.Output() + program.Log();
    return status;
}

TEST(AlwaysOn, EveryRestartKeepsTheArchivesBeforeIt) {
    TWorkDir dir;
    std::string text;
    for (int run = 0; run < 2; ++run)
        ASSERT_EQ(RunToEnd(dir.Path(), Broadcast(3), text), 0) << text;
    auto archives = Archives(dir.Path());
    ASSERT_EQ(archives.size(), 2u);
    for (const auto& [name, size] : archives) {
        SCOPED_TRACE(name);
        EXPECT_GT(ProbeDuration(dir.Path() / name), 2.0);
        EXPECT_EQ(DecodeErrors(dir.Path() / name), "");
    }

    // The disk fills (a file size limit set on the running program).
    TRealProgram full(dir.Path(), Broadcast(30), ServiceEnvironment());
    full.WaitOutput("broadcasting");
    ASSERT_EQ(
        RunTool("prlimit --pid " + std::to_string(full.Pid()) + " --fsize=40000:40000").Status, 0);
    EXPECT_EQ(full.WaitExit(), 1) << full.Output();
    EXPECT_NE(full.Log().find("Disk full: the broadcast stopped"), std::string::npos) << full.Log();

    // The restart keeps what the failed run wrote, and the earlier two as they were.
    ASSERT_EQ(RunToEnd(dir.Path(), Broadcast(2), text), 0) << text;
    const auto after = Archives(dir.Path());
    ASSERT_EQ(after.size(), 4u);
    for (const auto& [name, size] : archives)
        if (name != "brim.asf") {
            EXPECT_EQ(after.at(name), size) << name;
        }
    size_t cut = 0;
    for (const auto& [name, size] : after)
        cut += size == 40000;
    EXPECT_EQ(cut, 1u); // the failed run's file, kept under its start
    EXPECT_GT(ProbeDuration(dir.Path() / "brim.asf"), 1.0);
}

TEST(AlwaysOn, AnOutputPipeThatClosesLeavesACompleteArchive) {
    TWorkDir dir;
    std::string args;
    for (const std::string& a : Broadcast(4))
        args += " '" + a + "'";
    const TToolResult r =
        RunTool("cd '" + dir.Path().string() +
                    "' && { env -u DISPLAY -u WAYLAND_DISPLAY -u "
                    "QT_QPA_PLATFORM -u XDG_CONFIG_HOME HOME=\"$PWD\" " +
                    TRealProgram::Path() + args + " 2>log; echo $? >status; } | head -1",
                60);
    EXPECT_NE(r.Output.find("broadcasting"), std::string::npos) << r.Output;
    std::ifstream status(dir.Path() / "status");
    int code = -1;
    status >> code;
    EXPECT_EQ(code, 0);
    EXPECT_GT(ProbeDuration(dir.Path() / "brim.asf"), 3.0);
    EXPECT_EQ(DecodeErrors(dir.Path() / "brim.asf"), "");
}

TEST(AlwaysOn, WhatCannotWorkEndsTheRunNamingIt) {
    TWorkDir dir;
    // A working folder nothing can be created in, even by root.
    std::string args;
    for (const std::string& a : Broadcast(3))
        args += " '" + a + "'";
    const TToolResult proc = RunTool(
        "cd /proc && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u "
        "XDG_CONFIG_HOME HOME='" +
            dir.Path().string() + "' " + TRealProgram::Path() + args + " 2>&1; echo status $?",
        60);
    EXPECT_NE(proc.Output.find("The archive cannot be written in the folder \"/proc\""),
              std::string::npos)
        << proc.Output;
    EXPECT_NE(proc.Output.find("status 1"), std::string::npos) << proc.Output;

    // The camera used last is gone: no fall back to the Test Pattern.
    fs::create_directories(dir.Path() / ".config/kavaroxp");
    std::ofstream(dir.Path() / ".config/kavaroxp/kavaroxp.conf") << "[devices]\nvideo=USB Camera\n";
    std::string text;
    EXPECT_EQ(RunToEnd(dir.Path(), Broadcast(3), text), 1) << text;
    EXPECT_NE(text.find("The video device \"USB Camera\" used last is not connected"),
              std::string::npos)
        << text;
    EXPECT_TRUE(Archives(dir.Path()).empty());
}

TEST(AlwaysOn, TheStreamKeyStaysOutOfEveryOutputAndTheProcessList) {
    TWorkDir dir;
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(FreePort()) + "/live/" + kKey;
    const fs::path file = dir.Path() / "relay.url";
    std::ofstream(file) << url << "\n";
    std::string text, all;

    fs::permissions(file, fs::perms(0644));
    EXPECT_EQ(RunToEnd(dir.Path(), {"--broadcast", "--relay-url-file", file.string()}, text), 2);
    EXPECT_NE(text.find("mode 0644"), std::string::npos) << text;
    all += text;
    // A slip: the address given where no option takes it.
    EXPECT_EQ(RunToEnd(dir.Path(), {"--broadcast", url}, text), 2);
    all += text;

    // From the file and from the environment: a relay that retries its
    // absent server, looked at from outside while it runs.
    fs::permissions(file, fs::perms(0600));
    TProgramEnvironment withVariable = ServiceEnvironment();
    withVariable.Set.emplace_back(kRelayVariable, url);
    std::vector<std::string> fromFile = Broadcast(4);
    fromFile.insert(fromFile.end(), {"--relay-url-file", file.string()});
    for (const auto& [args, env] :
         {std::pair{fromFile, ServiceEnvironment()}, std::pair{Broadcast(4), withVariable}}) {
        TRealProgram program(dir.Path(), args, env);
        program.WaitOutput("relay: retrying");
        std::ifstream cmdline("/proc/" + std::to_string(program.Pid()) + "/cmdline");
        const std::string command{std::istreambuf_iterator<char>(cmdline), {}};
        EXPECT_NE(command.find("--broadcast"), std::string::npos);
        all += command + RunTool("ps -ww -o args= -p " + std::to_string(program.Pid())).Output;
        EXPECT_EQ(program.WaitExit(), 0) << program.Log();
        all += program.Output() + program.Log();
    }
    EXPECT_EQ(all.find(kKey), std::string::npos) << all;
    EXPECT_NE(all.find("5678"), std::string::npos) << all; // shown masked: its last four
}

} // namespace
