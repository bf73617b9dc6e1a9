#include "ProgramSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr char kPrefix[] = "@driver ";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

TWorkDir::TWorkDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kx-e2e-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TWorkDir::~TWorkDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

TProgram::TProgram(const std::filesystem::path& dir) : log_(dir / "program.log") {
    Start(dir, {}, true);
}

TProgram::TProgram(const std::filesystem::path& dir, const std::vector<std::string>& args)
    : log_(dir / "program.log") {
    Start(dir, args, false);
}

void TProgram::Start(const std::filesystem::path& dir, const std::vector<std::string>& args,
                     bool window) {
    signal(SIGPIPE, SIG_IGN); // a program that died must fail the test, not end it
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const int logFd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        if (chdir(dir.c_str()) != 0) _exit(126);
        setenv("HOME", dir.c_str(), 1);
        if (window) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            const char* plugins = getenv("QT_PLUGIN_PATH");
            const std::string path = std::string(KX_DRIVER_PLUGINS) +
                                     (plugins && *plugins ? ":" + std::string(plugins) : "");
            setenv("QT_PLUGIN_PATH", path.c_str(), 1);
            setenv("QT_QPA_GENERIC_PLUGINS", "kxdriver", 1);
        } else {
            // No display of any kind: a run without the window must not need one.
            for (const char* name :
                 {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_GENERIC_PLUGINS"})
                unsetenv(name);
        }
        // Under the leak checker, the libraries' process-long state is not ours to report
        // (the test programs suppress it the same way); the exit status must stay 0.
        setenv("LSAN_OPTIONS", "detect_leaks=0", 0);
        std::vector<char*> argv{const_cast<char*>(KX_PROGRAM)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KX_PROGRAM, argv.data());
        _exit(127);
    }
    close(logFd);
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
}

TProgram::~TProgram() {
    Kill();
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
}

void TProgram::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

bool TProgram::ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const size_t eol = buffer_.find('\n');
        if (eol != std::string::npos) {
            line = buffer_.substr(0, eol);
            buffer_.erase(0, eol + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        buffer_.append(buf, static_cast<size_t>(n));
    }
}

std::string TProgram::Expect(const std::vector<std::string>& kinds, const std::string& what,
                             std::chrono::seconds limit, std::string* kind) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string line;
    while (ReadLine(line, deadline)) {
        if (line.rfind(kPrefix, 0) != 0) continue; // the program's own output
        line.erase(0, sizeof kPrefix - 1);
        const size_t space = line.find(' ');
        const std::string k = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (k == "box") {
            boxes_.push_back(rest);
            continue;
        }
        for (const std::string& wanted : kinds)
            if (k == wanted) {
                if (kind) *kind = k;
                return rest;
            }
    }
    throw std::runtime_error("no answer to " + what + " within " + std::to_string(limit.count()) +
                             " s; program log:\n" + Log());
}

std::string TProgram::WaitOutput(const std::string& text, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string line;
    while (ReadLine(line, deadline)) {
        output_ += line + "\n";
        if (line.find(text) != std::string::npos) return line;
    }
    throw std::runtime_error("the program never printed \"" + text + "\"; it printed:\n" + output_ +
                             "log:\n" + Log());
}

std::string TProgram::WaitReady(std::chrono::seconds limit) {
    return Expect({"ready"}, "start-up (the main window)", limit, nullptr);
}

std::string TProgram::Do(const std::string& command, std::chrono::seconds limit) {
    const std::string line = command + "\n";
    if (in_ < 0 || write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        throw std::runtime_error("cannot send \"" + command + "\": the program is gone");
    std::string kind;
    const std::string answer = Expect({"ok", "err"}, "\"" + command + "\"", limit, &kind);
    if (kind == "err") throw std::runtime_error("\"" + command + "\" refused: " + answer);
    return answer;
}

int TProgram::WaitExit(std::chrono::seconds limit) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        // Keep reading: error boxes shown on the way out are reported too,
        // and a full pipe must never hold the program up.
        std::string line;
        while (ReadLine(line, std::chrono::steady_clock::now() + std::chrono::milliseconds(50))) {
            output_ += line + "\n";
            if (line.rfind(std::string(kPrefix) + "box ", 0) == 0)
                boxes_.push_back(line.substr(sizeof kPrefix + 3));
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Kill();
            return -1;
        }
        SleepFor(std::chrono::milliseconds(50));
    }
}

std::string TProgram::Log() const {
    std::ifstream in(log_);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    constexpr size_t kTail = 4000;
    return text.size() > kTail ? "..." + text.substr(text.size() - kTail) : text;
}

TToolResult RunTool(const std::string& command, int limitSeconds) {
    TToolResult result;
    const std::string line =
        "timeout -k 5 " + std::to_string(limitSeconds) + " sh -c " + Quoted(command);
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) return result;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        result.Output.append(buf, n);
    const int status = pclose(pipe);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

int FreePort() {
    static std::set<int> given;
    for (;;) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int port = 0;
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        close(fd);
        if (port == 0) throw std::runtime_error("no free port");
        if (given.insert(port).second) return port;
    }
}

std::vector<std::string> ProbeCodecs(const std::string& target, int limitSeconds) {
    return Lines(
        RunTool("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + Quoted(target),
                limitSeconds)
            .Output);
}

std::vector<std::string> ProbeStreamKinds(const std::string& target) {
    return Lines(
        RunTool("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + Quoted(target))
            .Output);
}

double ProbeDuration(const std::string& file) {
    const TToolResult r =
        RunTool("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(file));
    try {
        return std::stod(r.Output);
    } catch (const std::exception&) {
        return -1;
    }
}

void SleepFor(std::chrono::milliseconds time) {
    std::this_thread::sleep_for(time);
}
