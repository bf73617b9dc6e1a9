#pragma once
// Who watches a live stream: the network sink that serves the viewers lists
// them and drops one on request, so that the program can show and manage
// its audience without reaching into the server behind the sink.
#include "platform/Unknown.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

enum class TStreamViewerKind {
    Player,  // a media player over Windows Media HTTP streaming
    Plain,   // the plain ASF stream over HTTP
    Browser, // the browser stream
    WebRtc,  // a WebRTC viewer of the WHEP endpoint
};

struct TStreamViewer {
    uint64_t Id = 0;     // unique while the sink lives
    std::string Address; // "host:port" of the peer
    TStreamViewerKind Kind = TStreamViewerKind::Plain;
    std::chrono::system_clock::time_point ConnectedSince;
    uint64_t BytesSent = 0;
};

struct IStreamViewers : IUnknown {
    static constexpr GUID Iid{
        0x3F1D7C23, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x13}};
    using Base = IUnknown;
    // The viewers being served now (counted against the client limit), in
    // the order they came. Any thread.
    virtual HRESULT GetViewers(std::vector<TStreamViewer>& viewers) = 0;
    // Closes one viewer's connection; S_FALSE when it is no longer there.
    virtual HRESULT DisconnectViewer(uint64_t id) = 0;
    // A place under the same client limit for a viewer served elsewhere (a
    // WebRTC viewer): S_FALSE when the house is full. Each place taken is
    // given back once. Any thread.
    virtual HRESULT TakePlace() = 0;
    virtual HRESULT GivePlace() = 0;
};

inline constexpr const GUID& IID_IStreamViewers = IStreamViewers::Iid;
