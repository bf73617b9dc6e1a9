#include "app/LandingSite.h"

#include "app/BroadcastSettings.h"
#include "app/WatchPage.h"
#include "common/DateTime.h"

#include <map>
#include <memory>
#include <string>

namespace {

void SendLandingPage(TNetHTTPResponseInfo& response, const TLandingPageTexts& texts) {
    SendPage(response, BuildLandingPage(texts), "text/html");
}

// The documents the site answers, by path. Read by peer threads, never changed.
using TRoute = void (*)(TNetHTTPResponseInfo& response, const TLandingPageTexts& texts);
const std::map<std::string, TRoute>& Routes() {
    static const std::map<std::string, TRoute> routes = {
        {"/", SendLandingPage},
        {"/watch", SendWatchPage},
    };
    return routes;
}

} // namespace

void ConfigureLandingServer(TNetHTTPServer& server) {
    server.CommandHandlersEnabled = false;
    server.SetDefaultPort(kDefaultHttpPort);
    server.ListenQueue = 99;
    server.TerminateWaitTime = 7500;
    server.SessionTimeOut = 120000;
    server.Greeting.SetNumericCode(-1);
    server.MaxConnectionReply.SetNumericCode(0);
    server.MaxConnections = TNetCustomHTTPServer::kDefaultMaxConnections;
    server.EvictWaitingAtLimit = true;
    server.ReplyExceptionCode = 0;
    server.ReplyUnknownCommand.SetNumericCode(0);
}

TLandingSite::TLandingSite() {
    ConfigureLandingServer(server_);
    server_.SetThreadMgr(&threads_);
    server_.OnCommandGet = [this](TNetPeerThread&, TNetHTTPRequestInfo& request,
                                  TNetHTTPResponseInfo& response) {
        CommandGet(request, response);
    };
    // No page takes a request body: one is turned away unread, so idle
    // uploads cannot fill memory.
    server_.OnBodyLimit = [](const TNetHTTPRequestInfo&) -> int64_t { return 0; };
}

TLandingSite::~TLandingSite() = default;

int TLandingSite::Serve(int port) {
    server_.SetActive(false);
    server_.SetDefaultPort(port);
    server_.Bindings().Clear();
    server_.Bindings().Add();
    server_.SetActive(true);
    // After the bind the binding holds the port listened on (port 0: a free one).
    return server_.Bindings()[0].Port();
}

void TLandingSite::Deactivate() {
    server_.SetActive(false);
}

void TLandingSite::CommandGet(TNetHTTPRequestInfo& request, TNetHTTPResponseInfo& response) {
    response.CacheControl = "no-cache, must revalidate";
    response.Pragma = "no-cache";
    const TDateTime now = Now();
    response.Expires = now - EncodeTime(0, 23, 0, 0);
    response.Date = now;
    const auto route = Routes().find(request.Target);
    if (route == Routes().end()) return; // the server sends the header alone
    route->second(response, texts_.Snapshot());
}
