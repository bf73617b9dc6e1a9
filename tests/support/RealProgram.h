#pragma once
// The real kavaroxp binary, started as a user or a script would start it:
// with arguments, in a folder of its own, its output read line by line.
// Everything bounded: nothing waits forever, and a program still running
// when its object goes is killed.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// A fresh folder for one run (the program's working and home folder: the
// broadcast archive brim.asf lands there), removed afterwards.
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

// Changes to the test's environment for the program.
struct TProgramEnvironment {
    std::vector<std::pair<std::string, std::string>> Set;
    std::vector<std::string> Unset;
    // No display of any kind: a run without the window must not need one.
    static TProgramEnvironment Headless();
};

class TRealProgram {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts kavaroxp with args in dir, HOME set to dir, standard error to
    // dir/program.log.
    TRealProgram(const std::filesystem::path& dir, const std::vector<std::string>& args,
                 const TProgramEnvironment& environment = TProgramEnvironment::Headless());
    ~TRealProgram();
    TRealProgram(const TRealProgram&) = delete;
    TRealProgram& operator=(const TRealProgram&) = delete;

    // The binary under test, for a run through the shell (a pipe, another folder).
    static std::string Path();

    pid_t Pid() const { return pid_; }
    // Whether it still runs (an ended program is reaped and its status kept).
    bool Running();
    // Sends a signal, as kill(1), Ctrl+C or a closed terminal would.
    void Signal(int number) const;
    // Writes one line to its standard input; false when it is gone.
    bool Send(const std::string& line);

    // The next line it prints; false when the deadline passed or it closed
    // its output.
    bool ReadLine(std::string& line, Clock::time_point deadline);
    // Reads lines until one holds text and returns that line; throws (with
    // what it printed and its log) when none comes in time.
    std::string WaitOutput(const std::string& text,
                           std::chrono::seconds limit = std::chrono::seconds(30));
    // Every line read so far (by ReadLine, WaitOutput and WaitExit).
    const std::string& Output() const { return output_; }
    // Waits for it to end, reading its output all the while, and returns its
    // exit status (128 + the signal when a signal ended it); after the time
    // it is killed and -1 returned.
    int WaitExit(std::chrono::seconds limit = std::chrono::seconds(60));
    // The tail of its standard error.
    std::string Log() const;

  private:
    void Kill();
    // Reaps it when it has ended; true then.
    bool Reap(bool wait);

    std::filesystem::path log_;
    pid_t pid_ = -1;
    int status_ = -1; // exit status once reaped
    int in_ = -1;     // its standard input
    int out_ = -1;    // its standard output
    std::string buffer_;
    std::string output_;
};
