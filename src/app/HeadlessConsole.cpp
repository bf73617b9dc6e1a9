#include "app/HeadlessConsole.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::string TimeOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace

THeadlessConsole::THeadlessConsole() : terminal_(::isatty(STDOUT_FILENO) == 1) {}

void THeadlessConsole::Write(const std::string& text) {
    if (lost_) return;
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return;
    lost_ = true;
    std::fprintf(stderr, "kavaroxp: standard output is gone (%s); going on without it\n",
                 std::strerror(errno));
    std::clearerr(stdout);
}

void THeadlessConsole::Event(const std::string& text) {
    if (terminal_)
        Write("\r\033[K" + text + "\n" + status_);
    else
        Write(TimeOfDay() + " " + text + "\n");
}

void THeadlessConsole::Picture(const std::string& lines) {
    if (terminal_) Write("\r\033[K" + lines + status_);
}

void THeadlessConsole::Status(const std::string& text) {
    if (!terminal_ || text == status_) return;
    status_ = text;
    // A line longer than the terminal wraps, and only its last row would be redrawn.
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
        status_.size() >= size.ws_col)
        status_.resize(size.ws_col - 1);
    Write("\r\033[K" + status_);
}

void THeadlessConsole::Failure(const std::string& message) {
    if (terminal_) {
        Write("\r\033[K");
        status_.clear();
    } else {
        Event("failure: " + message);
    }
    std::fprintf(stderr, "%s\n", message.c_str());
}

void THeadlessConsole::ClearStatus() {
    if (terminal_ && !status_.empty()) Write("\r\033[K");
    status_.clear();
}

void THeadlessConsole::End() {
    if (terminal_ && !status_.empty()) Write("\n");
    status_.clear();
}
