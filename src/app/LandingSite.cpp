#include "app/LandingSite.h"

#include "app/AccessSettings.h"
#include "app/AddressList.h"
#include "app/BroadcastSettings.h"
#include "app/WatchPage.h"
#include "common/DateTime.h"
#include "net/NetIOHandlerSocket.h"
#include "platform/WhepHandle.h"

#include <algorithm>
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

// "host:port" of the request's peer, as the viewer list shows it.
std::string PeerText(TNetPeerThread& thread, const TNetHTTPRequestInfo& request) {
    TNetTCPServerConnection* conn = thread.Connection();
    auto* socket = conn ? dynamic_cast<TNetIOHandlerSocket*>(conn->IOHandler()) : nullptr;
    if (!socket || !socket->Binding()) return request.PeerAddress;
    return request.PeerAddress + ":" + std::to_string(socket->Binding()->PeerPort());
}

} // namespace

bool IsWhepPath(std::string_view target) {
    return target == "/whep" || target.rfind("/whep/", 0) == 0;
}

int64_t LandingBodyLimit(const TNetHTTPRequestInfo& request) {
    // Only an offer or a candidate fragment has a body; anything else is
    // turned away unread, so idle uploads cannot fill memory.
    const bool carries = request.Method == "POST" || request.Method == "PATCH";
    return carries && IsWhepPath(request.Target) ? int64_t(kMaxWhepBody) : 0;
}

void ConfigureLandingServer(TNetHTTPServer& server) {
    server.CommandHandlersEnabled = false;
    // What the WebRTC endpoint's sessions take besides GET, POST and HEAD.
    server.HandledMethods = {"DELETE", "OPTIONS", "PATCH"};
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
    server_.OnCommandGet = [this](TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                                  TNetHTTPResponseInfo& response) {
        CommandGet(request, response, PeerText(thread, request));
    };
    server_.OnBodyLimit = LandingBodyLimit;
    SetWhep(nullptr);
}

void TLandingSite::SetWhep(IWhepEndpoint* whep, std::string unavailable) {
    std::lock_guard lock(whepLock_);
    whep_ = ComPtr<IWhepEndpoint>(whep);
    whepOff_ = unavailable.empty() ? "WebRTC is off: no broadcast is running" : unavailable;
}

TLandingSite::~TLandingSite() = default;

int TLandingSite::Serve(int port, const std::string& address) {
    Deactivate();
    server_.SetDefaultPort(port);
    server_.Bindings().Clear();
    server_.Bindings().Add().SetIP(address);
    server_.SetActive(true);
    // After the bind the binding holds the port listened on (port 0: a free one).
    const int served = server_.Bindings()[0].Port();
    std::vector<std::string> hosts;
    if (address.empty()) {
        const TStringList& local = LocalAddressList();
        for (int i = 0; i < local.Count(); ++i)
            hosts.push_back(local[i]);
        hosts.push_back(kLocalAddress);
    } else {
        hosts.push_back(address);
    }
    if (address.empty() || address == kLocalAddress) hosts.push_back("localhost");
    std::lock_guard lock(originLock_);
    originHosts_ = std::move(hosts);
    servedPort_ = served;
    return served;
}

void TLandingSite::Deactivate() {
    {
        std::lock_guard lock(originLock_);
        servedPort_ = 0;
    }
    server_.SetActive(false);
}

bool TLandingSite::OwnOrigin(const std::string& origin) const {
    const std::string announced = texts_.Snapshot().Address;
    std::lock_guard lock(originLock_);
    if (servedPort_ == 0) return false;
    const std::string port = ":" + std::to_string(servedPort_);
    auto is = [&](const std::string& host) { return origin == "http://" + host + port; };
    return is(announced) || std::any_of(originHosts_.begin(), originHosts_.end(), is);
}

bool TLandingSite::IsViewerPath(const std::string& path) {
    return path == "/" || path == "/watch" || path == "/whep" || path.rfind("/whep/", 0) == 0;
}

bool TLandingSite::AdmitViewer(const TNetHTTPRequestInfo& request, TNetHTTPResponseInfo& response) {
    const std::string target =
        request.QueryText.empty() ? request.Target : request.Target + "?" + request.QueryText;
    const TViewerAccess access = gate_.Check(request.PeerAddress, target, request.HasCredentials,
                                             request.CredentialUser, request.CredentialPassword);
    switch (access) {
    case TViewerAccess::Allow:
        return true;
    case TViewerAccess::Unauthorized:
        response.Realm = "kavaroXP"; // the server answers 401 with a Basic challenge
        break;
    case TViewerAccess::Forbidden:
        response.SetStatusCode(403);
        response.ContentString = "not allowed";
        break;
    case TViewerAccess::TooManyTries:
        response.SetStatusCode(429);
        response.CustomHeaders.SetFieldValue("Retry-After", "60");
        response.ContentString = "too many wrong passwords: try again in a minute";
        break;
    }
    if (!response.ContentString.empty()) response.ContentType = "text/plain";
    return false;
}

void TLandingSite::ServeWhep(TNetHTTPRequestInfo& request, TNetHTTPResponseInfo& response,
                             const std::string& peer) {
    ComPtr<IWhepEndpoint> whep;
    std::string off;
    {
        std::lock_guard lock(whepLock_);
        whep = whep_;
        off = whepOff_;
    }
    TWhepAnswer answer;
    if (whep) {
        // May take a few seconds (the encode starting, ICE gathering): on
        // this peer thread only, the lock not held.
        answer = WhepHandle(*whep, request.Method, request.Target, request.ContentType,
                            request.BodyText.str(), peer);
    } else {
        answer.Status = 503;
        answer.ContentType = "text/plain; charset=utf-8";
        answer.Body = off + "\n";
    }
    response.SetStatusCode(answer.Status);
    response.ContentType = answer.ContentType;
    response.ContentString = std::move(answer.Body);
    // The session's address carries the link's key, so that ending it is
    // let through the gate too.
    response.Location = answer.Location.empty() ? "" : answer.Location + gate_.LinkQuery();
    if (!answer.Allow.empty()) response.CustomHeaders.SetFieldValue("Allow", answer.Allow);
    if (answer.Status == 503) response.CustomHeaders.SetFieldValue("Retry-After", "5");
}

void TLandingSite::CommandGet(TNetHTTPRequestInfo& request, TNetHTTPResponseInfo& response,
                              const std::string& peer) {
    if (IsWhepPath(request.Target)) {
        response.CacheControl = "no-store";
        if (AdmitViewer(request, response)) ServeWhep(request, response, peer);
        return;
    }
    response.CacheControl = "no-cache, must revalidate";
    response.Pragma = "no-cache";
    const TDateTime now = Now();
    response.Expires = now - EncodeTime(0, 23, 0, 0);
    response.Date = now;
    if (IsViewerPath(request.Target) && !AdmitViewer(request, response)) return;
    const auto route = Routes().find(request.Target);
    if (route == Routes().end()) return; // the server sends the header alone
    TLandingPageTexts texts = texts_.Snapshot();
    texts.LinkQuery = gate_.LinkQuery(); // the links on the page work for a viewer let in
    route->second(response, texts);
}
