#pragma once
// The request record of one HTTP request: the parsed header fields plus what
// the request loop learns from the request line, body, cookies and credentials.
#include "common/Stream.h"
#include "common/StringList.h"
#include "http/NetCookie.h"
#include "http/NetHTTPHeaderInfo.h"
#include "http/NetHTTPSession.h"

#include <memory>
#include <string>
#include <string_view>

// A text that copies share: a request's body and parameter texts are often
// the same (possibly large) bytes, held once.
class TNetSharedText {
  public:
    TNetSharedText() = default;
    TNetSharedText(std::string text)
        : text_(std::make_shared<const std::string>(std::move(text))) {}
    TNetSharedText& operator=(std::string text) {
        text_ = std::make_shared<const std::string>(std::move(text));
        return *this;
    }
    const std::string& str() const { return text_ ? *text_ : Empty(); }
    operator const std::string&() const { return str(); }
    bool empty() const { return str().empty(); }
    size_t size() const { return str().size(); }
    const char* data() const { return str().data(); }
    friend bool operator==(const TNetSharedText& a, std::string_view b) { return a.str() == b; }

  private:
    static const std::string& Empty() {
        static const std::string empty;
        return empty;
    }
    std::shared_ptr<const std::string> text_;
};

class TNetHTTPRequestInfo : public TNetRequestHeaderInfo {
  public:
    std::string RequestLine;     // exactly as read
    std::string PeerAddress;     // peer IP of the connection
    std::string Method;          // upper case
    std::string Target;          // decoded path, or "*"
    std::string ProtocolVersion; // last word of the request line
    std::string QueryText;       // after the first "?", undecoded
    TNetSharedText BodyText;
    TNetSharedText ParamText; // shares BodyText's bytes when it is the body alone
    TStringList ParamList;
    std::unique_ptr<TStream> BodyStream; // supplied by OnCreatePostStream
    TNetServerCookies CookieList;
    bool HasCredentials = false;
    std::string CredentialUser;
    std::string CredentialPassword;
    TNetHTTPSessionRef SessionRef;
};
