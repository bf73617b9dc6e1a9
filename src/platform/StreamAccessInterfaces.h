#pragma once
// Who may watch a private broadcast. The program decides (its password,
// address rules and failed tries); the servers ask it about each request
// before they admit a viewer, and ask which pages may read a stream from
// another origin (the landing page's own).
#include "platform/Unknown.h"

#include <functional>
#include <string>

struct TViewerRequest {
    std::string Peer;          // "host:port"
    std::string Target;        // as requested, query included ("/live.webm?k=...")
    std::string Authorization; // the header's value, empty without one
};

enum class TViewerAccess {
    Allow,
    Unauthorized, // no or wrong credentials: 401 with a Basic challenge
    Forbidden,    // an address kept out: 403
    TooManyTries, // too many wrong credentials from that address lately: 429
};

using TViewerAccessCheck = std::function<TViewerAccess(const TViewerRequest& request)>;
// Whether a page of that origin ("http://host:port") may read the stream.
using TOriginCheck = std::function<bool(const std::string& origin)>;

struct IStreamAccess : IUnknown {
    static constexpr GUID Iid{
        0x3F1D7C28, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x18}};
    using Base = IUnknown;
    // Where the server listens (empty: every interface); before it opens.
    virtual HRESULT SetBindAddress(const std::string& address) = 0;
    // Asked on the server's threads, for every request; none: everyone may watch.
    virtual HRESULT SetAccessCheck(TViewerAccessCheck check) = 0;
    // None: any origin ("*").
    virtual HRESULT SetOriginCheck(TOriginCheck check) = 0;
};

inline constexpr const GUID& IID_IStreamAccess = IStreamAccess::Iid;
