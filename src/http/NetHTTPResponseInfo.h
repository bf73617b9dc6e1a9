#pragma once
// The response under construction for one request: status, header fields in
// a fixed order, cookies, and a body from a text or a stream.
#include "common/Stream.h"
#include "http/NetCookie.h"
#include "http/NetHTTPHeaderInfo.h"
#include "http/NetHTTPSession.h"
#include "net/NetException.h"

#include <memory>
#include <string>

class TNetTCPConnection;

class ENetHTTPHeaderAlreadyWritten : public ENetException {
  public:
    ENetHTTPHeaderAlreadyWritten() : ENetException("Header has already been written.") {}
};

// Reason phrase of a status code; "Unknown Response Code" for codes not listed.
std::string HTTPStatusText(int code);

class TNetHTTPResponseInfo : public TNetResponseHeaderInfo {
  public:
    explicit TNetHTTPResponseInfo(TNetTCPConnection& connection);
    ~TNetHTTPResponseInfo() override;

    int StatusCode() const { return statusCode_; }
    const std::string& StatusText() const { return statusText_; }
    // Sets the code and its reason phrase; 404 also closes after the reply.
    void SetStatusCode(int code);
    void SetStatusText(std::string text) { statusText_ = std::move(text); }

    std::string ContentString;
    // Body as a stream; wins over ContentString. Freed after sending (and with
    // the response) while OwnsContentSource, otherwise only forgotten.
    TStream* ContentSource() const { return contentSource_.get(); }
    void SetContentSource(std::unique_ptr<TStream> stream);
    void SetContentSource(TStream* stream, bool owns);
    bool OwnsContentSource = true;

    // The answer to a HEAD request: the header (with the Content-Length the
    // body would have) goes out, the body never does. SendContent and the
    // server's file sending honour it; a handler that writes to Connection()
    // itself checks it.
    bool HeadOnly = false;

    bool CloseAfterReply() const { return closeAfterReply_; }
    // Also sets the Connection field: "close" or "keep-alive".
    void SetCloseAfterReply(bool value);

    bool HeaderSent() const { return headerSent_; }
    std::string Realm; // when set, the response becomes a Basic challenge
    TNetServerCookies CookieList;
    TNetHTTPSessionRef SessionRef;
    TNetTCPConnection& Connection() { return connection_; }

    // Raises ENetHTTPHeaderAlreadyWritten on a second call. The header is
    // collected and leaves together with the body of SendContent, or at
    // FlushHeader (the request loop calls it when the handler returns); a
    // handler that writes to the connection itself after SendHeader calls
    // FlushHeader first when its bytes must not wait.
    void SendHeader();
    void FlushHeader();
    // Sends the header first when needed, then the body (not for HeadOnly),
    // then drops the content.
    void SendContent();

    void BuildHeaderLines() override;

  private:
    // While the header waits, writes go out in pieces of this size.
    static constexpr int32_t kCollectThreshold = 65536;

    void ReleaseContentSource();
    void WriteHeaderLines();
    void DropPendingHeader() noexcept;

    TNetTCPConnection& connection_;
    int statusCode_ = 200;
    std::string statusText_ = "OK";
    bool closeAfterReply_ = false;
    bool headerSent_ = false;
    bool headerPending_ = false; // the header waits in the connection's write buffer
    std::unique_ptr<TStream> contentSource_;
};
