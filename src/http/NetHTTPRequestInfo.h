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

class TNetHTTPRequestInfo : public TNetRequestHeaderInfo {
  public:
    std::string RequestLine;     // exactly as read
    std::string PeerAddress;     // peer IP of the connection
    std::string Method;          // upper case
    std::string Target;          // decoded path, or "*"
    std::string ProtocolVersion; // last word of the request line
    std::string QueryText;       // after the first "?", undecoded
    std::string BodyText;
    std::string ParamText;
    TStringList ParamList;
    std::unique_ptr<TStream> BodyStream; // supplied by OnCreatePostStream
    TNetServerCookies CookieList;
    bool HasCredentials = false;
    std::string CredentialUser;
    std::string CredentialPassword;
    TNetHTTPSessionRef SessionRef;
};
