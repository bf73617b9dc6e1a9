#pragma once
// Side outputs: optional outputs of a running capture beside the graph's own
// (the browser stream, the relay, WebRTC). Each runs as a pipeline of its own, fed
// from side taps on the capture filters, so that nothing it does (a slow
// encoder, a server that goes away) can hold the capture up; one that fails
// is built again after a back-off while the capture goes on.
//
// A capture filter answers ISideTapSource; a side output is created by its
// class id and answers ISideOutput, and the interfaces of its own kind
// (IWebmStreamSource, IRelayOutput, IWhepEndpoint).
#include "platform/Unknown.h"

#include <string>

// A tap on what one capture filter delivers; only the platform that made it
// can read it.
struct ISideTap : IUnknown {
    static constexpr GUID Iid{
        0x3F1D7C24, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x14}};
    using Base = IUnknown;
};

struct ISideTapSource : IUnknown {
    static constexpr GUID Iid{
        0x3F1D7C25, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x15}};
    using Base = IUnknown;
    // The filter's tap, made at the first call on the thread that drives the
    // graph; E_FAIL when it cannot be made.
    virtual HRESULT GetSideTap(ISideTap** tap) = 0;
};

enum class TSideOutputState {
    Off,        // stopped, or nothing wanted of it
    Connecting, // built, nothing taken from it yet
    Live,       // its sink takes the stream
    Retrying,   // failed; built again after a back-off
    Refused,    // turned away for good (a stream key, a missing encoder) until set anew
};

struct TSideOutputStatus {
    TSideOutputState State = TSideOutputState::Off;
    int Kbps = 0;           // Live: what its sink took over the last second
    int RetryInSeconds = 0; // Retrying: until the next attempt
    std::string Reason;     // Retrying, Refused: why, without any secret
};

struct ISideOutput : IUnknown {
    static constexpr GUID Iid{
        0x3F1D7C26, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x16}};
    using Base = IUnknown;
    // The taps it is fed from (audio may be null). Changing them while it
    // runs starts it over.
    virtual HRESULT SetTaps(ISideTap* video, ISideTap* audio) = 0;
    // Start: from now on it runs whenever it is wanted and the capture runs.
    // Stop: returns once nothing reaches it any more and its pipeline is gone.
    virtual HRESULT Start() = 0;
    virtual HRESULT Stop() = 0;
    // Whether anyone wants what it makes (a browser watches, a relay is
    // set); an output nobody wants is idle and encodes nothing. Any thread;
    // returns at once.
    virtual HRESULT SetWanted(BOOL wanted) = 0;
    virtual HRESULT GetStatus(TSideOutputStatus* status) = 0;
    // Its status as a status line says it ("relay: live, 1520 kbit/s");
    // empty while it is off.
    virtual HRESULT GetStateText(std::string& text) = 0;
};

// The side outputs this platform makes.
inline constexpr GUID CLSID_WebmStreamOutput{
    0x3F1D7C30, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x20}};
inline constexpr GUID CLSID_RelayOutput{
    0x3F1D7C31, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x21}};
// Answers IWhepEndpoint (WhepInterfaces.h).
inline constexpr GUID CLSID_WebRtcOutput{
    0x3F1D7C32, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x22}};

inline constexpr const GUID& IID_ISideTap = ISideTap::Iid;
inline constexpr const GUID& IID_ISideTapSource = ISideTapSource::Iid;
inline constexpr const GUID& IID_ISideOutput = ISideOutput::Iid;
