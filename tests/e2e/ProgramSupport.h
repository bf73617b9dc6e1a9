#pragma once
// The real program under test, started with the window driver plugin and
// driven over its standard input and output; real clients run as shell
// commands with a time limit. Everything bounded: nothing waits forever.
#include <csignal>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// A fresh folder for one run (the program's working and home folder),
// removed afterwards.
class TWorkDir {
  public:
    TWorkDir();
    ~TWorkDir();
    TWorkDir(const TWorkDir&) = delete;
    TWorkDir& operator=(const TWorkDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

class TProgram {
  public:
    // Starts kavaroxp in dir on the offscreen platform with the driver loaded.
    explicit TProgram(const std::filesystem::path& dir);
    // Starts kavaroxp in dir with these arguments and no display at all.
    TProgram(const std::filesystem::path& dir, const std::vector<std::string>& args);
    // A program still running is killed.
    ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    // Waits until the driver has found the main window; returns its title,
    // or throws when the window does not come in time.
    std::string WaitReady(std::chrono::seconds limit = std::chrono::seconds(60));
    // Sends one driver command and returns its answer; throws (with the
    // program's log) when the driver refuses it or does not answer in time.
    std::string Do(const std::string& command,
                   std::chrono::seconds limit = std::chrono::seconds(60));
    // Texts of the error boxes the program has shown so far.
    const std::vector<std::string>& ErrorBoxes() const { return boxes_; }
    // Waits for the program to end and returns its exit status; after the
    // time it is killed and -1 returned.
    int WaitExit(std::chrono::seconds limit = std::chrono::seconds(60));
    bool Running() const { return pid_ > 0; }
    // Sends a signal, as kill(1) or a closed terminal would.
    void Signal(int number) const {
        if (pid_ > 0) ::kill(pid_, number);
    }
    // The program's standard error (its last lines).
    std::string Log() const;
    // Reads the program's output until a line holds text, and returns that
    // line; throws when it does not come in time.
    std::string WaitOutput(const std::string& text,
                           std::chrono::seconds limit = std::chrono::seconds(30));
    // The output lines read so far by WaitOutput and WaitExit.
    const std::string& Output() const { return output_; }

  private:
    void Start(const std::filesystem::path& dir, const std::vector<std::string>& args, bool window);
    // The next line the program prints; false when the time is up or the
    // program closed its output.
    bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline);
    // Reads until a driver line of one of the given kinds; returns the rest.
    std::string Expect(const std::vector<std::string>& kinds, const std::string& what,
                       std::chrono::seconds limit, std::string* kind);
    void Kill();

    std::filesystem::path log_;
    pid_t pid_ = -1;
    int in_ = -1;  // the program's standard input
    int out_ = -1; // its standard output
    std::string buffer_;
    std::string output_;
    std::vector<std::string> boxes_;
};

struct TToolResult {
    int Status = -1; // exit status; 124 when the time limit ended it
    std::string Output;
};
// Runs a shell command under `timeout` and returns its standard output.
TToolResult RunTool(const std::string& command, int limitSeconds = 30);

// A TCP port on 127.0.0.1 that was free a moment ago; never the same twice
// in one test program.
int FreePort();

// The codec names of a file's or URL's streams, in stream order (ffprobe).
std::vector<std::string> ProbeCodecs(const std::string& target, int limitSeconds = 30);
// The streams' kinds ("video", "audio").
std::vector<std::string> ProbeStreamKinds(const std::string& target);
// The container's duration in seconds; negative when ffprobe gives none.
double ProbeDuration(const std::string& file);

void SleepFor(std::chrono::milliseconds time);
