#pragma once
// A capture graph built as the main window builds a broadcast: Test Pattern
// (and Test Tone) into the ASF writer component, with raw socket viewers.
#include "GstTestSupport.h"
#include "media/ASFWriter.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/SideOutputs.h"
#include "platform/gst/GstAsfWriter.h"
#include "platform/gst/GstRelay.h"
#include "platform/gst/GstVideoRenderer.h"
#include "platform/gst/GstWebRtcOutput.h"
#include "platform/gst/GstWebmStream.h"
#include "platform/stream/WMWriterNetworkSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

namespace bcasttest {

inline void RegisterBroadcastClasses() {
    RegisterAsfWriter();
    RegisterVideoRenderer();
    RegisterWebmStream();
    RegisterRelay();
    RegisterWebRtcOutput();
}

struct TBroadcastRig {
    TFilterGraph Graph{"CaptureGraph"};
    TFilter Video{"VideoSourceFilter"};
    TFilter Audio{"AudioSourceFilter"};
    TASFWriter Writer{"brimASF"};
    TSideOutputs Outputs; // the browser stream, the relay and WebRTC, as a broadcast has them

    TBroadcastRig(TWMPofiles8 profile, bool withAudio, const std::string& fileName,
                  uint32_t maxUsers = 3, uint32_t port = 0,
                  const std::string& camera = "Test Pattern",
                  const std::string& microphone = "Test Tone") {
        RegisterBroadcastClasses();
        Graph.SetMode(gmCapture);
        Video.BaseFilter().AssignMoniker(
            gsttest::FindDevice(CLSID_VideoInputDeviceCategory, camera).Get());
        Video.SetFilterGraph(&Graph);
        if (withAudio) {
            Audio.BaseFilter().AssignMoniker(
                gsttest::FindDevice(CLSID_AudioInputDeviceCategory, microphone).Get());
            Audio.SetFilterGraph(&Graph);
        }
        Writer.SetPort(port);
        Writer.SetMaxUsers(maxUsers);
        Writer.SetFileName(fileName);
        Writer.SetFilterGraph(&Graph);
        Writer.SetProfile(profile);
        Graph.SetActive(true);
        Builder = Graph.Query<ICaptureGraphBuilder2>();
        Sink = Writer.Query<IBaseFilter>();
        VideoResult = Builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                            Video.Query<IBaseFilter>().Get(), nullptr, Sink.Get());
        if (withAudio)
            AudioResult = Builder->RenderStream(
                nullptr, &MEDIATYPE_Audio, Audio.Query<IBaseFilter>().Get(), nullptr, Sink.Get());
        Outputs.Start(Video, withAudio ? &Audio : nullptr, Writer.NetworkSink().Get());
    }
    ~TBroadcastRig() { Stop(); }
    void Stop() {
        Outputs.Stop();
        if (Graph.Active()) {
            Graph.Stop();
            Graph.SetActive(false);
        }
    }

    // The stream server behind the writer's network sink (null without one).
    AsfStreamServer* Server() {
        auto* sink = dynamic_cast<TWMWriterNetworkSink*>(Writer.NetworkSink().Get());
        return sink ? &sink->Server() : nullptr;
    }

    ComPtr<ICaptureGraphBuilder2> Builder;
    ComPtr<IBaseFilter> Sink;
    HRESULT VideoResult = E_FAIL, AudioResult = E_FAIL;
};

// A TCP client of the stream port.
class TViewer {
  public:
    explicit TViewer(uint32_t port, const std::string& request = {}, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (connected_ && !request.empty()) Send(request);
    }
    ~TViewer() {
        if (fd_ >= 0) ::close(fd_);
    }
    TViewer(const TViewer&) = delete;
    TViewer& operator=(const TViewer&) = delete;

    bool Connected() const { return connected_; }
    bool Send(const std::string& s) {
        return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size());
    }
    // Reads what arrives within ms; false once the peer closed.
    bool ReadFor(int ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                               end - std::chrono::steady_clock::now())
                               .count());
            if (left <= 0) return true;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) continue;
            char buf[65536];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed_ = true;
                return false;
            }
            if (data_.size() < 1 << 20) data_.append(buf, size_t(n));
            total_ += size_t(n);
        }
    }
    const std::string& Data() const { return data_; }
    size_t Total() const { return total_; }
    bool Closed() const { return closed_; }
    int Fd() const { return fd_; }

  private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    std::string data_;
    size_t total_ = 0;
};

inline const char* kPlainRequest = "GET / HTTP/1.0\r\nUser-Agent: curl/7.88\r\n\r\n";
inline const char* kPlayRequest = "GET / HTTP/1.0\r\nUser-Agent: NSPlayer/7.10.0.3059\r\n"
                                  "Pragma: xPlayStrm=1\r\nPragma: stream-switch-count=2\r\n\r\n";

} // namespace bcasttest
