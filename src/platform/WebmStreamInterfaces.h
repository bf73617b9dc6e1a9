#pragma once
// The browser stream: a WebM byte stream (VP8 video, Vorbis audio) made from
// the same capture as the ASF stream, but only while a browser watches.
//
// The network sink that serves viewers answers IWebmStreamSink; the side
// output that makes the stream answers IWebmStreamSource, and whoever wires
// the broadcast introduces them to each other. The source holds the sink; the
// sink keeps a plain pointer to the source (a counted pointer back would keep
// both alive): the wiring clears it with SetWebmSource(nullptr) before the
// source goes, and the sink makes no call on the source after that returns.
#include "platform/Unknown.h"

#include <span>

struct IWebmStreamSink;

struct IWebmStreamSource : IUnknown {
    static constexpr GUID Iid{
        0x3F1D7C20, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x10}};
    using Base = IUnknown;
    // Start (first browser viewer) or stop (the last one left) making the
    // stream. Called from the sink's threads; returns at once, the work is
    // done on the source's own thread.
    virtual HRESULT SetWanted(BOOL wanted) = 0;
    // Where the stream's bytes go (null: nowhere).
    virtual HRESULT SetWebmSink(IWebmStreamSink* sink) = 0;
};

struct IWebmStreamSink : IUnknown {
    static constexpr GUID Iid{
        0x3F1D7C21, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x11}};
    using Base = IUnknown;
    // The stream's maker (null: none any more). A source set while browser
    // viewers wait is asked for the stream at once.
    virtual HRESULT SetWebmSource(IWebmStreamSource* source) = 0;
    // The bytes the WebM muxer writes, in order, any slicing; from the
    // source's streaming thread. Never blocks on a viewer.
    virtual HRESULT OnWebmData(std::span<const uint8_t> bytes) = 0;
    // The stream stopped or starts over: the next bytes begin with a new header.
    virtual HRESULT OnWebmReset() = 0;
};

inline constexpr const GUID& IID_IWebmStreamSource = IWebmStreamSource::Iid;
inline constexpr const GUID& IID_IWebmStreamSink = IWebmStreamSink::Iid;
