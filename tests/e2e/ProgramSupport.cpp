#include "ProgramSupport.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
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

TProgramEnvironment WithDriver() {
    const char* plugins = getenv("QT_PLUGIN_PATH");
    const std::string path =
        std::string(KX_DRIVER_PLUGINS) + (plugins && *plugins ? ":" + std::string(plugins) : "");
    return {{{"QT_QPA_PLATFORM", "offscreen"},
             {"QT_PLUGIN_PATH", path},
             {"QT_QPA_GENERIC_PLUGINS", "kxdriver"}},
            {}};
}

} // namespace

TProgram::TProgram(const std::filesystem::path& dir) : TRealProgram(dir, {}, WithDriver()) {}

std::string TProgram::Expect(const std::vector<std::string>& kinds, const std::string& what,
                             std::chrono::seconds limit, std::string* kind) {
    const auto deadline = Clock::now() + limit;
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

std::string TProgram::WaitReady(std::chrono::seconds limit) {
    return Expect({"ready"}, "start-up (the main window)", limit, nullptr);
}

std::string TProgram::Do(const std::string& command, std::chrono::seconds limit) {
    if (!Send(command))
        throw std::runtime_error("cannot send \"" + command + "\": the program is gone");
    std::string kind;
    const std::string answer = Expect({"ok", "err"}, "\"" + command + "\"", limit, &kind);
    if (kind == "err") throw std::runtime_error("\"" + command + "\" refused: " + answer);
    return answer;
}

int TProgram::WaitExit(std::chrono::seconds limit) {
    const size_t before = Output().size();
    const int status = TRealProgram::WaitExit(limit);
    const std::string box = std::string(kPrefix) + "box ";
    std::istringstream lines(Output().substr(before));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(box, 0) == 0) boxes_.push_back(line.substr(box.size()));
    return status;
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
