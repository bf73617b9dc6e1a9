#pragma once
// TLandingSite: the HTTP server a broadcast's visitors open, its settings
// and its routes ("/" the landing page, "/watch" the watch page), built on
// the server's peer threads from a copy of the window's texts. Every other
// document is answered with the header alone.
#include "app/LandingPage.h"
#include "http/NetHTTPServer.h"
#include "http/NetThreadMgrDefault.h"

// The server's settings for the landing page: the default port, the queue,
// the limits and the replies it sends by itself.
void ConfigureLandingServer(TNetHTTPServer& server);

class TLandingSite {
  public:
    TLandingSite();
    ~TLandingSite();
    TLandingSite(const TLandingSite&) = delete;
    TLandingSite& operator=(const TLandingSite&) = delete;

    // The player size, address and stream port the pages show; the window
    // keeps the texts current, a broadcast sets the port.
    TLandingPageSource& Texts() { return texts_; }

    // Listens on port (0: a free one) and returns the port listened on.
    // Each call listens anew, so that a port changed in the box since an
    // earlier broadcast is the one served. Raises when it cannot bind.
    int Serve(int port);
    void Deactivate();
    bool Serving() const { return server_.Active(); }

  private:
    // The server's OnCommandGet; runs on the connection's peer thread.
    void CommandGet(TNetHTTPRequestInfo& request, TNetHTTPResponseInfo& response);

    // Declared before the server so that it outlives the server's peer threads.
    TLandingPageSource texts_;
    TNetThreadMgrDefault threads_;
    TNetHTTPServer server_;
};
