#pragma once
// The real program under test with its window, on the offscreen platform,
// driven by the window driver plugin over its standard input and output;
// real clients run as shell commands with a time limit.
#include "support/RealProgram.h"
#include "support/TestPorts.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

class TProgram : public TRealProgram {
  public:
    // Starts kavaroxp in dir on the offscreen platform with the driver loaded.
    explicit TProgram(const std::filesystem::path& dir);

    // Waits until the driver has found the main window; returns its title,
    // or throws when the window does not come in time.
    std::string WaitReady(std::chrono::seconds limit = std::chrono::seconds(60));
    // Sends one driver command and returns its answer; throws (with the
    // program's log) when the driver refuses it or does not answer in time.
    std::string Do(const std::string& command,
                   std::chrono::seconds limit = std::chrono::seconds(60));
    // Texts of the error boxes the program has shown so far.
    const std::vector<std::string>& ErrorBoxes() const { return boxes_; }
    // As the program's, and error boxes shown on the way out are kept too.
    int WaitExit(std::chrono::seconds limit = std::chrono::seconds(60));

  private:
    // Reads until a driver line of one of the given kinds; returns the rest.
    std::string Expect(const std::vector<std::string>& kinds, const std::string& what,
                       std::chrono::seconds limit, std::string* kind);

    std::vector<std::string> boxes_;
};

struct TToolResult {
    int Status = -1; // exit status; 124 when the time limit ended it
    std::string Output;
};
// Runs a shell command under `timeout` and returns its standard output.
TToolResult RunTool(const std::string& command, int limitSeconds = 30);

// The codec names of a file's or URL's streams, in stream order (ffprobe).
std::vector<std::string> ProbeCodecs(const std::string& target, int limitSeconds = 30);
// The streams' kinds ("video", "audio").
std::vector<std::string> ProbeStreamKinds(const std::string& target);
// The container's duration in seconds; negative when ffprobe gives none.
double ProbeDuration(const std::string& file);

void SleepFor(std::chrono::milliseconds time);
