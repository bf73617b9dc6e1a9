#pragma once
// Helpers of the platform tests: a scratch folder, ffprobe/ffmpeg runs and
// device lookups; the event pump and ports come from support/.
#include "platform/Platform.h"
#include "support/EventPump.h"
#include "support/TestPorts.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <unistd.h>

namespace gsttest {

// A fresh folder for one test, removed afterwards.
class TScratchDir {
  public:
    TScratchDir() {
        char pattern[] = "/tmp/kx-platform-XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "/tmp";
    }
    ~TScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs a shell command; returns its standard output and sets exitCode.
inline std::string RunCommand(const std::string& command, int& exitCode) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        exitCode = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    const int status = pclose(p);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// ffprobe's stream and format entries, one "key=value" per line.
inline std::string Probe(const std::string& file) {
    int code = 0;
    return RunCommand(
        "ffprobe -v error -show_entries "
        "stream=codec_type,codec_name,codec_tag_string,width,height,sample_rate,channels:"
        "format=duration -of default=noprint_wrappers=1 '" +
            file + "' 2>&1",
        code);
}

// Decodes the whole file; returns what ffmpeg reports as errors (empty: none).
inline std::string DecodeErrors(const std::string& file) {
    int code = 0;
    std::string out = RunCommand("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1", code);
    if (code != 0 && out.empty()) out = "ffmpeg exit " + std::to_string(code);
    return out;
}

inline double ProbeDuration(const std::string& probe) {
    auto pos = probe.find("duration=");
    return pos == std::string::npos ? -1 : std::atof(probe.c_str() + pos + 9);
}

inline int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

// The moniker of the named device in a category, from a fresh listing.
inline ComPtr<IMoniker> FindDevice(const GUID& category, const std::string& name) {
    ComPtr<ICreateDevEnum> devEnum;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(CreateInstance(CLSID_SystemDeviceEnum, devEnum)) ||
        devEnum->CreateClassEnumerator(category, monikers.Put(), 0) != S_OK)
        return nullptr;
    ComPtr<IMoniker> m;
    while (monikers->Next(1, m.Put(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        std::string friendly;
        if (SUCCEEDED(m->BindToStorage(nullptr, nullptr, IPropertyBag::Iid, bag.PutVoid())) &&
            SUCCEEDED(bag->Read("FriendlyName", friendly)) && friendly == name)
            return m;
    }
    return nullptr;
}

inline ComPtr<IBaseFilter> BindDevice(const GUID& category, const std::string& name) {
    ComPtr<IMoniker> m = FindDevice(category, name);
    ComPtr<IBaseFilter> filter;
    if (m) m->BindToObject(nullptr, nullptr, IBaseFilter::Iid, filter.PutVoid());
    return filter;
}

inline ComPtr<IPin> PinNamed(IBaseFilter* filter, const std::string& name) {
    ComPtr<IPin> pin;
    if (filter) filter->FindPin(name, pin.Put());
    return pin;
}

// A platform graph with its capture graph builder, and devices added by name.
struct TGraph {
    ComPtr<IFilterGraph2> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    TGraph() {
        EXPECT_EQ(S_OK, CreateInstance(CLSID_FilterGraph, graph));
        EXPECT_EQ(S_OK, CreateInstance(CLSID_CaptureGraphBuilder2, builder));
        EXPECT_EQ(S_OK, builder->SetFiltergraph(graph.Get()));
    }
    ComPtr<IBaseFilter> Add(const GUID& category, const std::string& device,
                            const std::string& name) {
        ComPtr<IBaseFilter> f = BindDevice(category, device);
        EXPECT_TRUE(SUCCEEDED(graph->AddFilter(f.Get(), name)));
        return f;
    }
};

} // namespace gsttest
