#pragma once
// WebRTC viewers (phones, browsers without Media Source): the WebRTC side
// output answers their offers as a WHEP endpoint. The endpoint knows nothing
// of HTTP; WhepHandle (WhepHandle.h) turns a request into its answer.
//
// Each viewer's session lives until it is deleted, disconnected, its peer
// connection fails, or its ICE and DTLS do not complete in time
// (TWhepNetwork::ConnectTimeout); then its place is freed (the release hook is called once
// for every admitted viewer).
#include "platform/StreamViewerInterfaces.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Where viewers' media goes out: host candidates on Address, then on
// MoreAddresses (Address empty and none more: every address of the host),
// from UDP ports MinPort..MaxPort.
struct TWhepNetwork {
    std::string Address;
    // Also offered, after Address: the machine's other addresses when the
    // servers listen on all of them.
    std::vector<std::string> MoreAddresses;
    int MinPort = 50000;
    int MaxPort = 50100;
    // A viewer whose ICE and DTLS are not up by then is dropped.
    std::chrono::milliseconds ConnectTimeout{10000};
    // A connected viewer that sends no receiver report for this long has
    // gone (closed its tab, lost its network) and is dropped.
    std::chrono::milliseconds SilenceTimeout{15000};
};

// WebRTC viewers' ids count from here, clear of the stream server's own, so
// that one viewer list holds both.
inline constexpr uint64_t kFirstWhepViewerId = uint64_t(1) << 48;

struct TWhepOfferResult {
    // 201 answered; 400 bad offer; 503 full (Reason starts "full") or not
    // streaming; 500
    int Status = 0;
    std::string AnswerSdp; // 201: the answer, with all our candidates
    std::string SessionId; // 201: the session's name in its address (/whep/<id>)
    std::string Reason;    // otherwise: one line for the viewer
};

struct IWhepEndpoint : IUnknown {
    static constexpr GUID Iid{
        0x3F1D7C27, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x17}};
    using Base = IUnknown;
    // A viewer's offer (SDP text); peer: "host:port" of whoever sent it, for
    // the viewer list. Blocks while the answer is made (a few seconds at
    // most). Any thread.
    virtual TWhepOfferResult Offer(const std::string& sdp, const std::string& peer) = 0;
    // Trickled candidates (an SDP fragment) for a session: 204, 404 (no such
    // session), 400 (not a fragment).
    virtual int Patch(const std::string& sessionId, const std::string& fragment) = 0;
    // Ends a session: 200, or 404 when there is none by that id.
    virtual int Delete(const std::string& sessionId) = 0;
    // The viewers now connected or connecting, oldest first; kind WebRtc.
    virtual HRESULT GetViewers(std::vector<TStreamViewer>& viewers) = 0;
    // Ends a viewer's session; S_FALSE when it is no longer there.
    virtual HRESULT DisconnectViewer(uint64_t id) = 0;
    // The owner's shared cap: mayAdmit asked before each new viewer (false:
    // 503), released called once when an admitted viewer's place is free.
    // Either may be empty. Called from the endpoint's threads.
    virtual HRESULT SetAdmission(std::function<bool()> mayAdmit,
                                 std::function<void()> released) = 0;
    // Takes effect for viewers that come after.
    virtual HRESULT SetNetwork(const TWhepNetwork& network) = 0;
};

inline constexpr const GUID& IID_IWhepEndpoint = IWhepEndpoint::Iid;
