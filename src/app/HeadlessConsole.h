#pragma once
// Where a run without the window reports: one live status line on a
// terminal, plain lines (with the time) otherwise. Failures go to standard
// error as well. A standard output that goes away (`| head -1`) is noticed
// once, said on standard error, and the run goes on without it.
#include <string>

class THeadlessConsole {
  public:
    THeadlessConsole();

    void Event(const std::string& text);
    // Lines for a person at a terminal only (a QR code), above the status.
    void Picture(const std::string& lines);
    void Status(const std::string& text);
    void Failure(const std::string& message);
    void ClearStatus();
    void End();
    // Whether standard output was lost (a write to it failed).
    bool OutputLost() const { return lost_; }

  private:
    // Writes text to standard output, unless it was lost.
    void Write(const std::string& text);

    const bool terminal_;
    std::string status_;
    bool lost_ = false;
};
