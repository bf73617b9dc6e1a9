#include "support/RealProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

// The test's environment with the changes applied, as "NAME=value" texts.
std::vector<std::string> EnvironmentFor(const TProgramEnvironment& changes,
                                        const std::filesystem::path& home) {
    std::vector<std::pair<std::string, std::string>> set = changes.Set;
    set.emplace_back("HOME", home.string());
    std::vector<std::string> out;
    const auto replaced = [&](const std::string& name) {
        for (const std::string& gone : changes.Unset)
            if (gone == name) return true;
        for (const auto& [n, v] : set)
            if (n == name) return true;
        return false;
    };
    bool leakOptions = false;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (replaced(name)) continue;
        leakOptions = leakOptions || name == "LSAN_OPTIONS";
        out.push_back(entry);
    }
    for (const auto& [n, v] : set)
        out.push_back(n + "=" + v);
    // Under the leak checker, the libraries' process-long state is not ours to
    // report (the test programs suppress it the same way); the exit status
    // must stay 0.
    if (!leakOptions) out.push_back("LSAN_OPTIONS=detect_leaks=0");
    return out;
}

} // namespace

TWorkDir::TWorkDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kx-run-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TWorkDir::~TWorkDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

TProgramEnvironment TProgramEnvironment::Headless() {
    return {{}, {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_GENERIC_PLUGINS"}};
}

TRealProgram::TRealProgram(const std::filesystem::path& dir, const std::vector<std::string>& args,
                           const TProgramEnvironment& environment)
    : log_(dir / "program.log") {
    signal(SIGPIPE, SIG_IGN); // a program that died must fail the test, not end it
    // Everything the child needs is made before the fork: the test process
    // has threads, so the child only moves descriptors and execs.
    std::vector<std::string> env = EnvironmentFor(environment, dir);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore{KX_PROGRAM};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string folder = dir.string();

    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        throw std::runtime_error("pipe failed");
    }
    const int logFd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        if (logFd >= 0) dup2(logFd, STDERR_FILENO);
        if (chdir(folder.c_str()) != 0) _exit(126);
        execve(KX_PROGRAM, argv.data(), envp.data());
        _exit(127);
    }
    if (logFd >= 0) close(logFd);
    close(toChild[0]);
    close(fromChild[1]);
    if (pid_ < 0) {
        close(toChild[1]);
        close(fromChild[0]);
        throw std::runtime_error("fork failed");
    }
    in_ = toChild[1];
    out_ = fromChild[0];
}

std::string TRealProgram::Path() {
    return KX_PROGRAM;
}

TRealProgram::~TRealProgram() {
    Kill();
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
}

void TRealProgram::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    Reap(true);
}

bool TRealProgram::Reap(bool wait) {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, wait ? 0 : WNOHANG) != pid_) return false;
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool TRealProgram::Running() {
    return !Reap(false);
}

void TRealProgram::Signal(int number) const {
    if (pid_ > 0) ::kill(pid_, number);
}

bool TRealProgram::Send(const std::string& line) {
    const std::string text = line + "\n";
    return in_ >= 0 && write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool TRealProgram::ReadLine(std::string& line, Clock::time_point deadline) {
    for (;;) {
        const size_t eol = buffer_.find('\n');
        if (eol != std::string::npos) {
            line = buffer_.substr(0, eol);
            buffer_.erase(0, eol + 1);
            output_ += line + "\n";
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
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

std::string TRealProgram::WaitOutput(const std::string& text, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    std::string line;
    while (ReadLine(line, deadline))
        if (line.find(text) != std::string::npos) return line;
    throw std::runtime_error("the program never printed \"" + text + "\"; it printed:\n" + output_ +
                             "log:\n" + Log());
}

int TRealProgram::WaitExit(std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        // Keep reading: a full pipe must never hold the program up.
        std::string line;
        while (Clock::now() < deadline &&
               ReadLine(line, Clock::now() + std::chrono::milliseconds(50)))
            continue;
        if (Reap(false)) return status_;
        if (Clock::now() > deadline) {
            Kill();
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string TRealProgram::Log() const {
    std::ifstream in(log_);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    constexpr size_t kTail = 4000;
    return text.size() > kTail ? "..." + text.substr(text.size() - kTail) : text;
}
