#pragma once
// Typed views of HTTP header blocks: the entity fields shared by requests and
// responses, the request fields a server reads, and the response fields it
// writes. Each record maps its raw HeaderLines to fields and back.
#include "common/DateTime.h"
#include "http/NetHeaderList.h"

#include <cstdint>
#include <string>

class TNetEntityHeaderInfo {
  public:
    TNetEntityHeaderInfo();
    virtual ~TNetEntityHeaderInfo() = default;
    TNetEntityHeaderInfo(const TNetEntityHeaderInfo&) = delete;
    TNetEntityHeaderInfo& operator=(const TNetEntityHeaderInfo&) = delete;

    std::string CacheControl;
    std::string Connection;
    std::string ContentEncoding;
    std::string ContentLanguage;
    std::string ContentType;
    std::string ContentVersion;
    int64_t ContentLength = -1; // -1: no length known
    int64_t ContentRangeStart = 0;
    int64_t ContentRangeEnd = 0;
    TDateTime Date = 0; // 0: not set
    TDateTime Expires = 0;
    TDateTime LastModified = 0;
    std::string Pragma;
    TNetHeaderList CustomHeaders;
    TNetHeaderList HeaderLines; // the raw lines

    bool HasContentLength() const { return ContentLength >= 0; }

    virtual void ParseHeaderLines();
    virtual void BuildHeaderLines();
    virtual void ResetFields();
};

class TNetRequestHeaderInfo : public TNetEntityHeaderInfo {
  public:
    std::string Accept;
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage;
    std::string Host;
    std::string From;
    std::string Referer;
    std::string UserAgent;
    std::string ProxyConnection;
    std::string Username;
    std::string Password;
    bool BasicAuthentication = false;

    void ParseHeaderLines() override;
    void BuildHeaderLines() override; // client use
    void ResetFields() override;
};

class TNetResponseHeaderInfo : public TNetEntityHeaderInfo {
  public:
    TNetResponseHeaderInfo();

    std::string Location;
    std::string Server;
    std::string ProxyConnection;
    TNetHeaderList WWWAuthenticate;
    TNetHeaderList ProxyAuthenticate;

    void ParseHeaderLines() override; // client use
    void BuildHeaderLines() override;
    void ResetFields() override;
};
