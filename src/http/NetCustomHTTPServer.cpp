#include "http/NetCustomHTTPServer.h"

#include "common/Text.h"
#include "http/NetCoderMIME.h"
#include "net/NetGlobal.h"
#include "net/NetURI.h"

#include <algorithm>
#include <atomic>
#include <cstring>

// Body memory one request holds out of its server's budget, given back
// when the request ends.
class TNetBodyReservation {
  public:
    TNetBodyReservation(std::atomic<int64_t>& held, int64_t budget)
        : held_(held), budget_(budget) {}
    ~TNetBodyReservation() { held_.fetch_sub(taken_); }
    TNetBodyReservation(const TNetBodyReservation&) = delete;
    TNetBodyReservation& operator=(const TNetBodyReservation&) = delete;
    // Takes count bytes more, or nothing when they are not left.
    bool Take(int64_t count) {
        int64_t now = held_.load();
        do {
            if (count > budget_ - now) return false;
        } while (!held_.compare_exchange_weak(now, now + count));
        taken_ += count;
        return true;
    }

  private:
    std::atomic<int64_t>& held_;
    int64_t budget_;
    int64_t taken_ = 0;
};

namespace {
constexpr int64_t kBodyChunk = 1024 * 1024; // a claimed length is honoured only as bytes arrive
// After a refused body, what the client still sends is read and dropped for
// this long (or this much, until a pause), so that the close does not reset
// the connection before the refusal is read.
constexpr int32_t kRefusalDrainTime = 1000; // ms
constexpr int32_t kRefusalDrainPause = 100; // ms
constexpr int64_t kRefusalDrainBytes = 1024 * 1024;

// Forwards to another stream and refuses to grow it past a limit, or past
// what the body budget has left: a body of unknown length takes its memory
// as it arrives.
class TNetLimitedStream : public TStream {
  public:
    TNetLimitedStream(TStream& target, int64_t limit, TNetBodyReservation& held)
        : target_(target), limit_(limit), held_(held) {}
    int64_t Read(void* buffer, int64_t count) override { return target_.Read(buffer, count); }
    int64_t Write(const void* buffer, int64_t count) override {
        if (count > 0 && target_.Position() + count > limit_) throw ENetHTTPRequestTooLarge();
        const int64_t growth = target_.Position() + count - taken_;
        if (growth > 0) {
            if (!held_.Take(growth)) throw ENetHTTPRequestTooLarge();
            taken_ += growth;
        }
        return target_.Write(buffer, count);
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        return target_.Seek(offset, origin);
    }
    int64_t Size() override { return target_.Size(); }
    void SetSize(int64_t newSize) override {
        if (newSize > limit_) throw ENetHTTPRequestTooLarge();
        target_.SetSize(newSize);
    }

  private:
    TStream& target_;
    int64_t limit_;
    TNetBodyReservation& held_;
    int64_t taken_ = 0;
};

// The body text as it arrives: one string, which the request record takes
// over afterwards. An announced length has been taken out of the body budget
// before any byte is read, so room for all of it is made at once: the string
// never grows by copying (which left freed copies of each step behind), and
// its pages are only touched as bytes arrive.
class TNetBodyStream : public TStream {
  public:
    explicit TNetBodyStream(int64_t expected) {
        if (expected > 0) data_.reserve(size_t(expected));
    }
    int64_t Read(void* buffer, int64_t count) override {
        const int64_t n = std::clamp<int64_t>(Size() - position_, 0, std::max<int64_t>(count, 0));
        if (n > 0) std::memcpy(buffer, data_.data() + position_, size_t(n));
        position_ += n;
        return n;
    }
    int64_t Write(const void* buffer, int64_t count) override {
        if (count <= 0) return 0;
        if (position_ + count > Size()) SetSize(position_ + count);
        std::memcpy(data_.data() + position_, buffer, size_t(count));
        position_ += count;
        return count;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                             : origin == TSeekOrigin::soCurrent ? position_
                                                                : Size();
        position_ = std::clamp<int64_t>(base + offset, 0, Size());
        return position_;
    }
    int64_t Size() override { return int64_t(data_.size()); }
    void SetSize(int64_t newSize) override {
        data_.resize(size_t(std::max<int64_t>(newSize, 0)));
        position_ = std::min(position_, newSize);
    }
    std::string Take() { return std::move(data_); }

  private:
    std::string data_;
    int64_t position_ = 0;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "+" as a blank, then URL decoding, in one pass over the piece.
std::string DecodeParam(std::string_view piece) {
    std::string out;
    out.reserve(piece.size());
    for (size_t i = 0; i < piece.size();) {
        const char c = piece[i];
        if (c != '%') {
            out += c == '+' ? ' ' : c;
            ++i;
            continue;
        }
        const int hi = i + 1 < piece.size() ? HexValue(piece[i + 1]) : -1;
        const int lo = i + 2 < piece.size() ? HexValue(piece[i + 2]) : -1;
        if (hi >= 0 && lo >= 0 && (hi | lo) != 0) out += char(hi * 16 + lo);
        i += 3; // the escape goes, decoded or not
    }
    return out;
}

// Restores a connection's read time-out when a body has been read.
struct TReadTimeoutScope {
    TNetTCPConnection& conn;
    int32_t saved;
    TReadTimeoutScope(TNetTCPConnection& c, int idleMs) : conn(c), saved(c.ReadTimeout) {
        if (idleMs > 0 && (saved == 0 || saved > idleMs)) conn.ReadTimeout = idleMs;
    }
    ~TReadTimeoutScope() { conn.ReadTimeout = saved; }
};

bool IsFormType(const std::string& contentType) {
    return LowerCase(contentType) == "application/x-www-form-urlencoded";
}
} // namespace

void SplitHTTPParams(std::string_view text, TStringList& list, int maxParams) {
    list.Clear();
    if (text.empty()) return;
    if (maxParams > 0 && std::count(text.begin(), text.end(), '&') >= maxParams)
        throw ENetHTTPRequestTooLarge(); // counted first: refused before any allocation
    size_t start = 0;
    while (true) {
        const size_t amp = text.find('&', start);
        list.Add(DecodeParam(text.substr(
            start, amp == std::string_view::npos ? std::string_view::npos : amp - start)));
        if (amp == std::string_view::npos) break;
        start = amp + 1;
    }
}

TNetCustomHTTPServer::TNetCustomHTTPServer()
    : mimeTable_(std::make_unique<TNetMimeTable>(true)),
      sessionList_(std::make_unique<TNetHTTPDefaultSessionList>()) {
    SetDefaultPort(80);
}

TNetCustomHTTPServer::~TNetCustomHTTPServer() {
    // Peers run this class's request loop: they must be gone before its parts are.
    ShutDown();
    sessionCleaner_.reset();
    sessionList_->ClearSessions();
}

void TNetCustomHTTPServer::SetSessionState(bool value) {
    if (value == sessionState_) return;
    if (Active() && !Loading()) throw ENetHTTPCannotSwitchSessionStateWhenActive();
    sessionState_ = value;
}

void TNetCustomHTTPServer::SetActive(bool value) {
    if (Loading() || value == Active()) {
        TNetTCPServer::SetActive(value);
        return;
    }
    if (value) {
        if (SessionTimeOut != 0)
            sessionList_->SessionTimeout = SessionTimeOut;
        else
            sessionState_ = false;
        sessionList_->OnSessionStart = OnSessionStart;
        sessionList_->OnSessionEnd = OnSessionEnd;
        if (sessionState_)
            sessionCleaner_ = std::make_unique<TNetHTTPSessionCleanerThread>(*sessionList_);
        try {
            TNetTCPServer::SetActive(true);
        } catch (...) {
            sessionCleaner_.reset();
            sessionList_->ClearSessions();
            throw;
        }
        return;
    }
    std::exception_ptr failure;
    try {
        TNetTCPServer::SetActive(false);
    } catch (...) {
        failure = std::current_exception();
    }
    if (sessionCleaner_) {
        sessionCleaner_->SetPriority(TNetThreadPriority::tpNormal);
        sessionCleaner_.reset(); // terminates and waits; its last pass ends every session
    }
    sessionList_->ClearSessions();
    if (failure) std::rethrow_exception(failure);
}

void TNetCustomHTTPServer::HandleGet(TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                                     TNetHTTPResponseInfo& response) {
    if (onCommandGet_) onCommandGet_(thread, request, response);
}

void TNetCustomHTTPServer::HandleOther(TNetPeerThread& thread, const std::string& method,
                                       const std::string& target, const std::string& version) {
    if (OnCommandOther) OnCommandOther(thread, method, target, version);
}

void TNetCustomHTTPServer::MakeBodyStream(TNetPeerThread& thread,
                                          std::unique_ptr<TStream>& stream) {
    if (onCreatePostStream_) onCreatePostStream_(thread, stream);
}

bool TNetCustomHTTPServer::ExecuteConnection(TNetPeerThread& thread) {
    TNetTCPServerConnection& conn = *thread.Connection();
    try {
        bool exitLoop = !KeepAlive;
        do {
            exitLoop = ServeRequest(thread, conn, exitLoop);
        } while (!exitLoop);
    } catch (const ENetSocketError& e) {
        DisconnectPeer(conn);
        if (e.LastError() != NetWSAECONNRESET) throw;
        return true;
    } catch (const ENetClosedSocket&) {
        DisconnectPeer(conn);
        return true;
    } catch (const ENetReadTimeout&) {
        DisconnectPeer(conn); // a client past the time limits: closed without a reply
        return true;
    } catch (...) {
        DisconnectPeer(conn);
        throw;
    }
    DisconnectPeer(conn);
    return true;
}

void TNetCustomHTTPServer::ReadHeaderBlock(TNetTCPServerConnection& conn, TNetHeaderList& lines) {
    lines.Clear();
    int64_t total = 0;
    while (true) {
        std::string line = conn.ReadLine();
        if (line.empty()) return;
        if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
        total += static_cast<int64_t>(line.size()) + 2;
        if (total > kMaxHeaderBlockSize) throw ENetHTTPRequestTooLarge();
        lines.Add(std::move(line));
    }
}

bool TNetCustomHTTPServer::AdmitBody(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request,
                                     TNetBodyReservation& held, TBodyPlan& plan) {
    const int64_t declared = OnBodyLimit ? OnBodyLimit(request) : -1;
    // A form body is split into parameters later, which costs a multiple of
    // its size: its limit is lower.
    const int64_t cap =
        ParseParams && IsFormType(request.ContentType) ? kMaxFormBodySize : kMaxRequestBodySize;
    plan.limit = declared < 0 ? cap : std::min(declared, cap);
    if (declared < 0) {
        if (request.ContentLength > cap) throw ENetHTTPRequestTooLarge();
        plan.untilClose = request.Method == "POST" && request.ContentLength < 0;
    } else if (!request.HeaderLines.GetFieldValue("Transfer-Encoding").empty()) {
        // A length only known at the end: nothing the owner could bound.
        RefuseBody(conn, request, declared == 0 ? 413 : 411);
        return false;
    } else if (request.ContentLength > plan.limit) {
        RefuseBody(conn, request, 413);
        return false;
    }
    if (request.ContentLength > 0 && !held.Take(request.ContentLength)) {
        RefuseBody(conn, request, 503);
        return false;
    }
    if ((request.ContentLength > 0 || plan.untilClose) && request.ProtocolVersion == "HTTP/1.1" &&
        SameText(Trim(request.HeaderLines.GetFieldValue("Expect")), "100-continue"))
        conn.WriteText("HTTP/1.1 100 Continue\r\n\r\n");
    return true;
}

void TNetCustomHTTPServer::RefuseBody(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request,
                                      int code) {
    TNetHTTPResponseInfo response(conn);
    response.HeadOnly = request.Method == "HEAD";
    response.SetCloseAfterReply(true); // the unread body ends the connection
    response.SetStatusCode(code);
    if (!Trim(ServerSoftware).empty()) response.Server = ServerSoftware;
    if (code == 503) response.CustomHeaders.SetFieldValue("Retry-After", "5");
    response.ContentType = "text/html";
    response.ContentString =
        "<HTML><BODY><B>" + IntToStr(code) + " " + response.StatusText() + "</B></BODY></HTML>";
    response.SendContent();
    // What the client still sends is dropped for a while; meanwhile the
    // connection counts as waiting and gives way at the connection limit.
    conn.WaitingForRequest = true;
    conn.SetReadDeadline(kRefusalDrainTime);
    try {
        for (int64_t dropped = 0; dropped < kRefusalDrainBytes;) {
            conn.InputBuffer().Clear();
            if (conn.FillInputBuffer(false, kRefusalDrainPause, false) <= 0)
                break; // closed, or a pause
            dropped += conn.InputBuffer().Size();
        }
    } catch (const ENetException&) {
        // gone: nothing left to protect
    }
    conn.InputBuffer().Clear();
    conn.SetReadDeadline(0);
}

void TNetCustomHTTPServer::ReadBody(TNetPeerThread& thread, TNetTCPServerConnection& conn,
                                    TNetHTTPRequestInfo& request, TNetBodyReservation& held,
                                    const TBodyPlan& plan) {
    request.BodyStream.reset();
    MakeBodyStream(thread, request.BodyStream);
    std::unique_ptr<TNetBodyStream> ownText;
    TStream* target = request.BodyStream.get();
    if (!target) {
        ownText = std::make_unique<TNetBodyStream>(std::max<int64_t>(request.ContentLength, 0));
        target = ownText.get();
    }
    TReadTimeoutScope idle(conn, BodyIdleTimeout);
    if (request.ContentLength > 0) {
        for (int64_t remaining = request.ContentLength; remaining > 0;) {
            const int64_t chunk = std::min(remaining, kBodyChunk);
            conn.ReadToStream(*target, chunk, false);
            remaining -= chunk;
        }
    } else if (plan.untilClose) {
        TNetLimitedStream limited(*target, plan.limit, held);
        conn.ReadToStream(limited, -1, true);
    }
    if (ownText) {
        request.BodyText = ownText->Take();
        request.ParamText = request.BodyText; // shared, not copied
    } else if (auto* text = dynamic_cast<TStringStream*>(target)) {
        request.BodyText = text->DataString();
        request.ParamText = request.BodyText;
    }
}

bool TNetCustomHTTPServer::ServeRequest(TNetPeerThread& thread, TNetTCPServerConnection& conn,
                                        bool exitLoop) {
    // The request line and header block must arrive within HeaderTimeout;
    // until they have, the connection may give way to a new one at the limit.
    conn.SetReadDeadline(HeaderTimeout);
    conn.WaitingForRequest = true;
    const std::string line = conn.ReadLine();
    const size_t lastSpace = line.rfind(' ');
    if (lastSpace == std::string::npos) throw ENetHTTPErrorParsingCommand();
    const std::string version = line.substr(lastSpace + 1);
    std::string targetText = line.substr(0, lastSpace);
    const std::string method = UpperCase(FetchToken(targetText, " ", true));

    if ((method != "GET" && method != "POST" && method != "HEAD") || !onCommandGet_) {
        conn.SetReadDeadline(0);
        conn.WaitingForRequest = false;
        HandleOther(thread, method, targetText, version);
        return exitLoop;
    }

    // Declared before the request: the body it holds is given back after it.
    TNetBodyReservation bodyMemory(bodyMemoryHeld_, BodyMemoryBudget);
    TNetHTTPRequestInfo request;
    request.RequestLine = line;
    request.PeerAddress = conn.IOHandler() ? conn.IOHandler()->PeerIP() : std::string();
    request.Method = method;

    ReadHeaderBlock(conn, request.HeaderLines);
    conn.SetReadDeadline(0);
    conn.WaitingForRequest = false;
    request.ParseHeaderLines();
    request.ProtocolVersion = version;

    // What the request is for is known before its body is read, so the
    // owner can turn a body away unread.
    std::string pathText = targetText;
    const size_t question = targetText.find('?');
    if (question != std::string::npos) {
        request.QueryText = targetText.substr(question + 1);
        pathText = targetText.substr(0, question);
    }
    if (pathText == "*") {
        request.Target = pathText; // "*"
    } else {
        TNetURI uri(pathText);
        request.Target =
            TNetURI::URLDecode(uri.Path()) + TNetURI::URLDecode(uri.Document()) + uri.Params();
        if (!uri.Host().empty() && request.Host.empty()) request.Host = uri.Host();
    }

    TBodyPlan body;
    if (!AdmitBody(conn, request, bodyMemory, body)) return true;
    ReadBody(thread, conn, request, bodyMemory, body);

    if (!request.QueryText.empty())
        request.ParamText = request.ParamText.empty()
                                ? request.QueryText
                                : request.ParamText.str() + "&" + request.QueryText;

    if (ParseParams) {
        if (IsFormType(request.ContentType))
            SplitHTTPParams(request.ParamText.str(), request.ParamList, kMaxParams);
        else
            SplitHTTPParams(request.QueryText, request.ParamList, kMaxParams);
    }

    TStringList cookieFields;
    request.HeaderLines.ExtractValues("cookie", cookieFields);
    for (const std::string& field : cookieFields) {
        std::string rest = field;
        while (rest.find(';') != std::string::npos) {
            request.CookieList.AddCookie(FetchToken(rest, ";", true));
            rest = Trim(rest);
        }
        if (!rest.empty()) request.CookieList.AddCookie(rest);
    }

    std::string authorization = request.HeaderLines.GetFieldValue("Authorization");
    request.HasCredentials = !authorization.empty();
    if (request.HasCredentials) {
        const std::string scheme = FetchToken(authorization, " ", true);
        if (!SameText(scheme, "Basic")) throw ENetHTTPUnsupportedAuthorisationScheme();
        std::string decoded = DecodeBase64Text(authorization);
        request.CredentialUser = FetchToken(decoded, ":", true);
        request.CredentialPassword = decoded;
    }

    TNetHTTPResponseInfo response(conn);
    response.HeadOnly = method == "HEAD";
    response.SetCloseAfterReply(!(KeepAlive && SameText(request.Connection, "Keep-alive")));

    bool continueProcessing = true;
    ResolveSession(thread, request, response, continueProcessing);
    if (!Trim(ServerSoftware).empty()) response.Server = ServerSoftware;

    if (continueProcessing) {
        try {
            HandleGet(thread, request, response);
        } catch (const ENetSocketError&) {
            throw;
        } catch (const std::exception& e) {
            response.SetStatusCode(500);
            response.ContentString = e.what();
        }
        if (!response.HeaderSent()) response.SendHeader();
        if (!response.ContentString.empty() || response.ContentSource()) response.SendContent();
    }
    // Also when a session handler stopped the processing: whatever header it
    // sent is still only collected and must go out.
    response.FlushHeader();
    return response.CloseAfterReply();
}

void TNetCustomHTTPServer::RefuseConnection(TNetTCPServerConnection& connection) {
    if (MaxConnectionReply.NumericCode() > 0 || MaxConnectionReply.Text().Count() > 0) {
        TNetTCPServer::RefuseConnection(connection);
        return;
    }
    connection.WriteText("HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n"
                         "Retry-After: 5\r\nContent-Type: text/plain\r\nContent-Length: 28\r\n"
                         "\r\nToo many connections; retry.");
}

// ---- sessions -----------------------------------------------------------

void TNetCustomHTTPServer::ResolveSession(TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                                          TNetHTTPResponseInfo& response,
                                          bool& continueProcessing) {
    continueProcessing = true;
    TNetHTTPSessionRef session;
    if (sessionState_) {
        int index = request.CookieList.FindCookie(0, "HTTPSESSIONID");
        while (index >= 0 && !session) {
            const std::string key = request.CookieList[index].CookieValue;
            session = sessionList_->FindSession(key, request.PeerAddress);
            if (!session && OnInvalidSession)
                OnInvalidSession(thread, request, response, continueProcessing, key);
            index = request.CookieList.FindCookie(index + 1, "HTTPSESSIONID");
        }
    }
    if (AutoStartSession && continueProcessing && !session)
        session = StartSession(thread, response, request);
    request.SessionRef = session;
    response.SessionRef = session;
}

TNetHTTPSessionRef TNetCustomHTTPServer::StartSession(TNetPeerThread& thread,
                                                      TNetHTTPResponseInfo& response,
                                                      TNetHTTPRequestInfo& request) {
    if (!sessionState_) return nullptr;
    TNetHTTPSessionRef session;
    if (OnCreateSession) OnCreateSession(thread, session);
    if (session)
        sessionList_->AddSession(session);
    else
        session = sessionList_->NewUniqueSession(request.PeerAddress);
    TNetCookieRFC2109& cookie = response.CookieList.Add();
    cookie.CookieName = "HTTPSESSIONID";
    cookie.CookieValue = session->SessionKey;
    cookie.CookiePath.assign(1, '/');
    cookie.CookieMaxAge = -1;
    request.SessionRef = session;
    response.SessionRef = session;
    return session;
}

int64_t TNetCustomHTTPServer::ServeFileContents(TNetPeerThread&, TNetHTTPResponseInfo& response,
                                                const std::string& fileName) {
    if (response.ContentType.empty()) response.ContentType = mimeTable_->MimeTypeOfFile(fileName);
    response.ContentLength = FileSizeOf(fileName);
    response.SendHeader();
    if (response.HeadOnly) return 0;
    return response.Connection().WriteFileContents(fileName, true);
}
