#include "http/NetCustomHTTPServer.h"

#include "common/Text.h"
#include "http/NetCoderMIME.h"
#include "net/NetGlobal.h"
#include "net/NetURI.h"

#include <algorithm>

namespace {
constexpr int kWSAECONNRESET = 10054;
constexpr int64_t kBodyChunk = 1024 * 1024; // a claimed length is honoured only as bytes arrive

// Forwards to another stream and refuses to grow it past a limit.
class TNetLimitedStream : public TStream {
  public:
    TNetLimitedStream(TStream& target, int64_t limit) : target_(target), limit_(limit) {}
    int64_t Read(void* buffer, int64_t count) override { return target_.Read(buffer, count); }
    int64_t Write(const void* buffer, int64_t count) override {
        if (count > 0 && target_.Position() + count > limit_) throw ENetHTTPRequestTooLarge();
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
};
} // namespace

void SplitHTTPParams(const std::string& text, TStringList& list) {
    list.Clear();
    if (text.empty()) return;
    size_t start = 0;
    while (true) {
        const size_t amp = text.find('&', start);
        std::string piece =
            text.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        std::replace(piece.begin(), piece.end(), '+', ' ');
        list.Add(TNetURI::URLDecode(piece));
        if (amp == std::string::npos) break;
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
        if (e.LastError() != kWSAECONNRESET) throw;
        return true;
    } catch (const ENetClosedSocket&) {
        DisconnectPeer(conn);
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

void TNetCustomHTTPServer::ReadBody(TNetPeerThread& thread, TNetTCPServerConnection& conn,
                                    TNetHTTPRequestInfo& request) {
    request.BodyStream.reset();
    MakeBodyStream(thread, request.BodyStream);
    std::unique_ptr<TStringStream> ownText;
    TStream* target = request.BodyStream.get();
    if (!target) {
        ownText = std::make_unique<TStringStream>();
        target = ownText.get();
    }
    if (request.ContentLength > 0) {
        if (request.ContentLength > kMaxRequestBodySize) throw ENetHTTPRequestTooLarge();
        for (int64_t remaining = request.ContentLength; remaining > 0;) {
            const int64_t chunk = std::min(remaining, kBodyChunk);
            conn.ReadToStream(*target, chunk, false);
            remaining -= chunk;
        }
    } else if (request.Method == "POST" && request.ContentLength < 0) {
        TNetLimitedStream limited(*target, kMaxRequestBodySize);
        conn.ReadToStream(limited, -1, true);
    }
    if (auto* text = dynamic_cast<TStringStream*>(target)) {
        request.BodyText = text->DataString();
        request.ParamText = request.BodyText;
    }
}

bool TNetCustomHTTPServer::ServeRequest(TNetPeerThread& thread, TNetTCPServerConnection& conn,
                                        bool exitLoop) {
    const std::string line = conn.ReadLine();
    const size_t lastSpace = line.rfind(' ');
    if (lastSpace == std::string::npos) throw ENetHTTPErrorParsingCommand();
    const std::string version = line.substr(lastSpace + 1);
    std::string targetText = line.substr(0, lastSpace);
    const std::string method = UpperCase(FetchToken(targetText, " ", true));

    if ((method != "GET" && method != "POST" && method != "HEAD") || !onCommandGet_) {
        HandleOther(thread, method, targetText, version);
        return exitLoop;
    }

    TNetHTTPRequestInfo request;
    request.RequestLine = line;
    request.PeerAddress = conn.Socket() ? conn.Socket()->Binding()->PeerIP() : std::string();
    request.Method = method;

    ReadHeaderBlock(conn, request.HeaderLines);
    request.ParseHeaderLines();
    ReadBody(thread, conn, request);

    std::string pathText = targetText;
    const size_t question = targetText.find('?');
    if (question != std::string::npos) {
        request.QueryText = targetText.substr(question + 1);
        pathText = targetText.substr(0, question);
    }
    if (!request.QueryText.empty())
        request.ParamText = request.ParamText.empty() ? request.QueryText
                                                      : request.ParamText + "&" + request.QueryText;

    if (ParseParams) {
        if (LowerCase(request.ContentType) == "application/x-www-form-urlencoded")
            SplitHTTPParams(request.ParamText, request.ParamList);
        else
            SplitHTTPParams(request.QueryText, request.ParamList);
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

    request.ProtocolVersion = version;

    if (pathText == "*") {
        request.Target = pathText; // "*"
    } else {
        TNetURI uri(pathText);
        request.Target =
            TNetURI::URLDecode(uri.Path()) + TNetURI::URLDecode(uri.Document()) + uri.Params();
        if (!uri.Host().empty() && request.Host.empty()) request.Host = uri.Host();
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
        response.FlushHeader();
    }
    return response.CloseAfterReply();
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
    return response.Connection().WriteFileContents(fileName, true);
}
