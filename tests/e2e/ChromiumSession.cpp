#include "ChromiumSession.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The text of a JSON string field; enough for the answers read here.
std::string Field(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const size_t at = json.find(key);
    if (at == std::string::npos) return {};
    std::string out;
    for (size_t i = at + key.size(); i < json.size() && json[i] != '"'; ++i) {
        if (json[i] != '\\' || i + 1 >= json.size()) {
            out += json[i];
            continue;
        }
        const char e = json[++i];
        if (e == 'u' && i + 4 < json.size()) {
            // A character of the Basic Multilingual Plane, written out in UTF-8.
            const unsigned c = unsigned(std::stoul(json.substr(i + 1, 4), nullptr, 16));
            i += 4;
            if (c < 0x80) {
                out += char(c);
            } else if (c < 0x800) {
                out += char(0xC0 | (c >> 6));
                out += char(0x80 | (c & 0x3F));
            } else {
                out += char(0xE0 | (c >> 12));
                out += char(0x80 | ((c >> 6) & 0x3F));
                out += char(0x80 | (c & 0x3F));
            }
        } else {
            out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
    }
    return out;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

} // namespace

TChromiumSession::TChromiumSession() {
    char dir[] = "/tmp/kx-chromium-XXXXXX";
    if (!mkdtemp(dir)) {
        error_ = "no temporary profile folder";
        return;
    }
    profile_ = dir;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        error_ = "no pipes";
        return;
    }
    const std::string userData = "--user-data-dir=" + profile_;
    const std::string log = profile_ + "/browser.log";
    pid_ = fork();
    if (pid_ == 0) {
        // Out of the way first, so that neither end already sits on 3 or 4.
        const int readEnd = fcntl(in[0], F_DUPFD_CLOEXEC, 10);
        const int writeEnd = fcntl(out[1], F_DUPFD_CLOEXEC, 10);
        dup2(readEnd, 3);
        dup2(writeEnd, 4);
        const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (logFd >= 0) {
            dup2(logFd, 1);
            dup2(logFd, 2);
        }
        const char* argv[] = {"chromium", "--headless", "--no-sandbox", "--disable-gpu",
                              "--disable-background-networking", "--disable-component-update",
                              "--disable-sync", "--no-first-run", userData.c_str(),
                              "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                              // WebRTC on loopback: 127.0.0.1 candidates, no mDNS names.
                              "--allow-loopback-in-peer-connection",
                              "--use-fake-ui-for-media-stream",
                              "--disable-features=WebRtcHideLocalIpsWithMdns",
                              "--autoplay-policy=no-user-gesture-required",
                              "--remote-debugging-pipe", "about:blank", nullptr};
        execvp("chromium", const_cast<char**>(argv));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toBrowser_ = in[1];
    fromBrowser_ = out[0];
    if (pid_ < 0) {
        error_ = "fork failed";
        return;
    }
    const std::string created = Call("Target.createTarget", "{\"url\":\"about:blank\"}", false);
    const std::string target = Field(created, "targetId");
    if (target.empty()) {
        error_ = "chromium did not start (is the chromium package installed?)";
        return;
    }
    const std::string attached =
        Call("Target.attachToTarget", "{\"targetId\":\"" + target + "\",\"flatten\":true}", false);
    session_ = Field(attached, "sessionId");
    if (session_.empty()) error_ = "could not attach to the page";
}

TChromiumSession::~TChromiumSession() {
    if (pid_ > 0) {
        if (toBrowser_ >= 0) Call("Browser.close", "{}", false);
        int status = 0;
        bool gone = false;
        for (int i = 0; i < 50 && !gone; ++i) {
            gone = waitpid(pid_, &status, WNOHANG) == pid_;
            if (!gone) usleep(100 * 1000);
        }
        if (!gone) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    if (toBrowser_ >= 0) close(toBrowser_);
    if (fromBrowser_ >= 0) close(fromBrowser_);
    std::error_code ec;
    if (!profile_.empty()) std::filesystem::remove_all(profile_, ec);
}

std::string TChromiumSession::Call(const std::string& method, const std::string& params,
                                   bool inSession) {
    const int id = nextId_++;
    std::string message =
        "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
    if (inSession) message += ",\"sessionId\":\"" + session_ + "\"";
    message += "}";
    message.push_back('\0');
    if (write(toBrowser_, message.data(), message.size()) != ssize_t(message.size())) return {};
    const std::string idKey = "{\"id\":" + std::to_string(id) + ",";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (;;) {
        size_t nul;
        while ((nul = buffer_.find('\0')) != std::string::npos) {
            std::string one = buffer_.substr(0, nul);
            buffer_.erase(0, nul + 1);
            if (one.rfind(idKey, 0) == 0) return one;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{fromBrowser_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) return {};
        char buf[65536];
        const ssize_t n = read(fromBrowser_, buf, sizeof buf);
        if (n <= 0) return {};
        buffer_.append(buf, size_t(n));
    }
}

bool TChromiumSession::Navigate(const std::string& url) {
    return Call("Page.navigate", "{\"url\":" + Quote(url) + "}").find("\"frameId\"") !=
           std::string::npos;
}

std::string TChromiumSession::Evaluate(const std::string& expression) {
    const std::string answer =
        Call("Runtime.evaluate", "{\"expression\":" + Quote(expression) +
                                     ",\"returnByValue\":true,\"awaitPromise\":true}");
    return Field(answer, "value");
}

bool TChromiumSession::AddScriptOnNewDocument(const std::string& source) {
    Call("Page.enable", "{}");
    return Call("Page.addScriptToEvaluateOnNewDocument", "{\"source\":" + Quote(source) + "}")
               .find("\"identifier\"") != std::string::npos;
}
