// The request loop (request line, header block, body, parameters, cookies,
// credentials, target splitting) on bytes as a client would send them, and
// the header list's field lookups with unfolding.
#include "FuzzSupport.h"
#include "http/NetHTTPServer.h"

#include <memory>

namespace {

void Lookups(TNetHTTPRequestInfo& request) {
    TNetHeaderList& lines = request.HeaderLines;
    lines.UnfoldLines = true;
    (void)lines.GetFieldValue("Host");
    (void)lines.GetFieldValue("X-Folded");
    TStringList values;
    lines.ExtractValues("cookie", values);
    for (int i = 0; i < request.CookieList.Count(); ++i)
        (void)request.CookieList[i].FormatServerCookie();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TNetHTTPServer* server = [] {
        auto* s = new TNetHTTPServer;
        s->KeepAlive = true;
        s->OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo& request,
                             TNetHTTPResponseInfo& response) {
            Lookups(request);
            response.ContentString = request.Target + request.ParamText.str();
        };
        return s;
    }();
    // One per input and ended here: a parked thread left over would keep the
    // process from exiting.
    auto peer = std::make_unique<TNetPeerThread>();
    auto conn = std::make_unique<TNetTCPServerConnection>(server);
    conn->SetIOHandler(std::make_unique<fuzz::TMemoryIOHandler>(data, size));
    peer->SetConnection(std::move(conn));
    try {
        server->ExecuteConnection(*peer);
    } catch (const ENetException&) {
        // every way a request can be refused
    }
    peer->SetConnection(nullptr);
    peer->TerminateAndWait();
    return 0;
}
