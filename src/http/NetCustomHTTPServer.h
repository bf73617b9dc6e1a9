#pragma once
// TNetCustomHTTPServer: a TNetTCPServer whose per-connection routine is an
// HTTP/1.x request loop (request line, header lines, body by Content-Length,
// parameters, cookies, Basic credentials, session), calling the application's
// handler and finishing its response.
#include "http/NetHTTPRequestInfo.h"
#include "http/NetHTTPResponseInfo.h"
#include "http/NetHTTPSession.h"
#include "http/NetTCPServer.h"
#include "net/NetMimeTable.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class ENetHTTPErrorParsingCommand : public ENetException {
  public:
    ENetHTTPErrorParsingCommand() : ENetException("Error in parsing command.") {}
};
class ENetHTTPUnsupportedAuthorisationScheme : public ENetException {
  public:
    ENetHTTPUnsupportedAuthorisationScheme() : ENetException("Unsupported authorization scheme.") {}
};
class ENetHTTPCannotSwitchSessionStateWhenActive : public ENetException {
  public:
    ENetHTTPCannotSwitchSessionStateWhenActive()
        : ENetException("Cannot change session state when the server is active.") {}
};
// A request whose header block, body or parameter count exceeds the
// server's limits; the connection is closed without a reply.
class ENetHTTPRequestTooLarge : public ENetException {
  public:
    ENetHTTPRequestTooLarge() : ENetException("Request too large.") {}
};

class TNetBodyReservation; // a request's share of the body memory budget

using TNetHTTPGetEvent =
    std::function<void(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo,
                       TNetHTTPResponseInfo& AResponseInfo)>;
using TNetHTTPOtherEvent =
    std::function<void(TNetPeerThread& AThread, const std::string& asCommand,
                       const std::string& asData, const std::string& asVersion)>;
using TOnCreatePostStream =
    std::function<void(TNetPeerThread& ASender, std::unique_ptr<TStream>& VPostStream)>;
using TOnCreateSession =
    std::function<void(TNetPeerThread& ASender, TNetHTTPSessionRef& VHTTPSession)>;
// How many body bytes a request may send, asked once its request line and
// header block are read (Method, Target, QueryText and the header fields are
// set) and before any body byte is read. 0: the request takes no body;
// negative: the server's default limits.
using TNetHTTPBodyLimitEvent = std::function<int64_t(const TNetHTTPRequestInfo& ARequestInfo)>;
using TNetHTTPInvalidSessionEvent = std::function<void(
    TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo, TNetHTTPResponseInfo& AResponseInfo,
    bool& VContinueProcessing, const std::string& AInvalidSessionID)>;

class TNetCustomHTTPServer : public TNetTCPServer {
  public:
    // Largest request body read (by Content-Length or until the client
    // closes) and largest header block; past them the connection is closed.
    static constexpr int64_t kMaxRequestBodySize = 64 * 1024 * 1024;
    static constexpr int64_t kMaxHeaderBlockSize = 1024 * 1024;
    // A form body is split into parameters only up to this size, and into
    // at most kMaxParams of them; a larger form is refused.
    static constexpr int64_t kMaxFormBodySize = 16 * 1024 * 1024;
    static constexpr int kMaxParams = 10000;
    // Request bodies of all connections together hold at most this much; a
    // body announced past what is left gets "503 Service Unavailable" unread.
    static constexpr int64_t kBodyMemoryBudget = 64 * 1024 * 1024;
    // Limits for servers that face a network (the program uses them):
    // simultaneous connections, and the time limits below.
    static constexpr int kDefaultMaxConnections = 256;
    static constexpr int kDefaultHeaderTimeout = 30000;   // ms
    static constexpr int kDefaultBodyIdleTimeout = 60000; // ms

    TNetCustomHTTPServer();
    ~TNetCustomHTTPServer() override;

    // Prepares sessions, then starts or stops the TCP server.
    void SetActive(bool value) override;

    bool ParseParams = true;
    bool KeepAlive = false;
    std::string ServerSoftware;
    bool SessionState() const { return sessionState_; }
    // Raises ENetHTTPCannotSwitchSessionStateWhenActive while active.
    void SetSessionState(bool value);
    int SessionTimeOut = 0; // ms
    bool AutoStartSession = false;
    // A request line and header block not complete within HeaderTimeout ms
    // of the connection (or of the previous response, with keep-alive) is
    // closed without a reply; so is a body that pauses longer than
    // BodyIdleTimeout ms. 0: no limit.
    int HeaderTimeout = kDefaultHeaderTimeout;
    int BodyIdleTimeout = kDefaultBodyIdleTimeout;

    // Per request, the largest body accepted (see TNetHTTPBodyLimitEvent).
    // When it is set and returns 0 or more, a body announced past that limit
    // gets "413" before any of it is read, one of unknown length
    // (Transfer-Encoding) gets 413 (limit 0) or "411 Length Required", and a
    // POST without Content-Length has no body; the connection is then closed.
    // Unset or negative: bodies up to kMaxRequestBodySize, as always.
    TNetHTTPBodyLimitEvent OnBodyLimit;
    // The budget for bodies held at once (kBodyMemoryBudget), and what is held now.
    int64_t BodyMemoryBudget = kBodyMemoryBudget;
    int64_t BodyMemoryHeld() const { return bodyMemoryHeld_.load(); }

    TNetHTTPOtherEvent OnCommandOther;
    TOnCreateSession OnCreateSession;
    TNetHTTPInvalidSessionEvent OnInvalidSession;
    TOnSessionStartEvent OnSessionStart;
    TOnSessionEndEvent OnSessionEnd;

    TNetMimeTable& MIMETable() { return *mimeTable_; }
    TNetHTTPCustomSessionList& SessionStore() { return *sessionList_; }

    // The request loop; always returns true.
    bool ExecuteConnection(TNetPeerThread& thread) override;

    // Sets ContentType (when empty) from the file name and ContentLength from
    // the file, sends the header and then the file's bytes.
    int64_t ServeFileContents(TNetPeerThread& thread, TNetHTTPResponseInfo& response,
                              const std::string& fileName);

    TNetHTTPSessionRef StartSession(TNetPeerThread& thread, TNetHTTPResponseInfo& response,
                                    TNetHTTPRequestInfo& request);

    // A 503 for HTTP clients when no MaxConnectionReply is configured.
    void RefuseConnection(TNetTCPServerConnection& connection) override;

  protected:
    virtual void HandleGet(TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                           TNetHTTPResponseInfo& response);
    virtual void HandleOther(TNetPeerThread& thread, const std::string& method,
                             const std::string& target, const std::string& version);
    virtual void MakeBodyStream(TNetPeerThread& thread, std::unique_ptr<TStream>& stream);
    void ResolveSession(TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                        TNetHTTPResponseInfo& response, bool& continueProcessing);

    TNetHTTPGetEvent onCommandGet_;
    TOnCreatePostStream onCreatePostStream_;

  private:
    // One request on the connection; returns whether the loop ends after it.
    bool ServeRequest(TNetPeerThread& thread, TNetTCPServerConnection& conn, bool closeByDefault);
    void ReadHeaderBlock(TNetTCPServerConnection& conn, TNetHeaderList& lines);
    struct TBodyPlan {
        int64_t limit = 0;       // most bytes read
        bool untilClose = false; // no length announced: read until the client closes
    };
    // Refuses a body the request may not send (answering it and returning
    // false) or reserves its memory in held; sends "100 Continue" when asked.
    bool AdmitBody(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request,
                   TNetBodyReservation& held, TBodyPlan& plan);
    void RefuseBody(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request, int code);
    void ReadBody(TNetPeerThread& thread, TNetTCPServerConnection& conn,
                  TNetHTTPRequestInfo& request, TNetBodyReservation& held, const TBodyPlan& plan);

    std::atomic<int64_t> bodyMemoryHeld_{0};
    bool sessionState_ = false;
    std::unique_ptr<TNetMimeTable> mimeTable_;
    std::unique_ptr<TNetHTTPDefaultSessionList> sessionList_;
    std::unique_ptr<TNetHTTPSessionCleanerThread> sessionCleaner_;
};

// Splits a parameter text at every "&" into list (cleared first): "+" becomes
// a blank and each piece is URL-decoded. More than maxParams pieces raise
// ENetHTTPRequestTooLarge.
void SplitHTTPParams(std::string_view text, TStringList& list, int maxParams = 0);
