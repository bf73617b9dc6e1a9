#pragma once
// TLandingSite: the HTTP server a broadcast's visitors open, its settings
// and its routes ("/" the landing page, "/watch" the watch page, "/whep"
// and its sessions the running broadcast's WebRTC endpoint), built on the
// server's peer threads from a copy of the window's texts. Every other
// document is answered with the header alone. The viewer paths ("/",
// "/watch", "/whep...") are let through the viewer gate first, which the
// stream server asks too.
#include "app/LandingPage.h"
#include "app/ViewerGate.h"
#include "http/NetHTTPServer.h"
#include "http/NetThreadMgrDefault.h"
#include "platform/WhepInterfaces.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The server's settings for the landing page: the default port, the queue,
// the limits and the replies it sends by itself.
void ConfigureLandingServer(TNetHTTPServer& server);

// Whether a request target is the WebRTC endpoint or one of its sessions.
bool IsWhepPath(std::string_view target);
// The body a request may send: offers and trickled candidates to the
// WebRTC endpoint, nothing anywhere else.
int64_t LandingBodyLimit(const TNetHTTPRequestInfo& request);

class TLandingSite {
  public:
    TLandingSite();
    ~TLandingSite();
    TLandingSite(const TLandingSite&) = delete;
    TLandingSite& operator=(const TLandingSite&) = delete;

    // The player size, address and stream port the pages show; the window
    // keeps the texts current, a broadcast sets the port.
    TLandingPageSource& Texts() { return texts_; }

    // Who may watch, for this site and the stream server alike.
    TViewerGate& Gate() { return gate_; }

    // Listens on port (0: a free one) at address (empty: every interface)
    // and returns the port listened on. Each call listens anew, so that a
    // port changed in the box since an earlier broadcast is the one served.
    // Raises when it cannot bind.
    int Serve(int port, const std::string& address = {});
    void Deactivate();
    bool Serving() const { return server_.Active(); }
    // The running broadcast's WebRTC endpoint (null: none, and WebRTC
    // requests get 503 with the reason). Set on the UI thread as the
    // broadcast's outputs start and stop.
    void SetWhep(IWhepEndpoint* whep, std::string unavailable = {});

    // Whether a page of origin ("http://host:port") is one of this site's
    // own: the port served and an address it serves under (the announced
    // one included). Any thread; false while it does not serve.
    bool OwnOrigin(const std::string& origin) const;
    // The paths only a viewer let in by the gate gets.
    static bool IsViewerPath(const std::string& path);
    // Asks the gate about a request; when refused, the answer (401 with a
    // Basic challenge, 403, 429) is set on response and false returned.
    // On the peer thread; for every viewer route, the WebRTC offer's too.
    bool AdmitViewer(const TNetHTTPRequestInfo& request, TNetHTTPResponseInfo& response);

  private:
    // The server's OnCommandGet; runs on the connection's peer thread.
    void CommandGet(TNetHTTPRequestInfo& request, TNetHTTPResponseInfo& response,
                    const std::string& peer);
    void ServeWhep(TNetHTTPRequestInfo& request, TNetHTTPResponseInfo& response,
                   const std::string& peer);

    // Declared before the server so that they outlive the server's peer threads.
    TLandingPageSource texts_;
    TViewerGate gate_;
    mutable std::mutex originLock_; // guards originHosts_ and servedPort_
    std::vector<std::string> originHosts_;
    int servedPort_ = 0;  // 0: not serving
    std::mutex whepLock_; // guards whep_ and whepOff_
    ComPtr<IWhepEndpoint> whep_;
    std::string whepOff_; // why there is none
    TNetThreadMgrDefault threads_;
    TNetHTTPServer server_;
};
