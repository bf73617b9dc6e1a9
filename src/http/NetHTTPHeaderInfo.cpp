#include "http/NetHTTPHeaderInfo.h"

#include "common/Text.h"
#include "net/NetGlobal.h"

namespace {
int64_t NumberOrZero(const std::string& s) {
    return StrToInt64Def(Trim(s), 0);
}
} // namespace

// ---- entity -------------------------------------------------------------

TNetEntityHeaderInfo::TNetEntityHeaderInfo() {
    HeaderLines.FoldLength = 1024;
    CustomHeaders.FoldLength = 1024;
}

void TNetEntityHeaderInfo::ResetFields() {
    CacheControl.clear();
    Connection.clear();
    ContentEncoding.clear();
    ContentLanguage.clear();
    ContentType.clear();
    ContentVersion.clear();
    ContentLength = -1;
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
    Date = 0;
    Expires = 0;
    LastModified = 0;
    Pragma.clear();
    CustomHeaders.Clear();
}

void TNetEntityHeaderInfo::ParseHeaderLines() {
    const TNetHeaderList& h = HeaderLines;
    Connection = h.GetFieldValue("Connection");
    ContentVersion = h.GetFieldValue("Content-Version");
    ContentEncoding = h.GetFieldValue("Content-Encoding");
    ContentLanguage = h.GetFieldValue("Content-Language");
    ContentType = h.GetFieldValue("Content-Type");
    ContentLength = StrToInt64Def(Trim(h.GetFieldValue("Content-Length")), -1);
    if (ContentLength < 0) ContentLength = -1;
    Date = GMTTextToLocalDateTime(h.GetFieldValue("Date"));
    LastModified = GMTTextToLocalDateTime(h.GetFieldValue("Last-Modified"));
    const std::string expires = h.GetFieldValue("Expires");
    int32_t seconds = 0;
    if (TryStrToInt(expires, seconds)) {
        // A relative expiry in seconds; one day or more is no time of day and
        // raises, which ends the request.
        Expires = Now() + EncodeTime(seconds / 3600, seconds % 3600 / 60, seconds % 60, 0);
    } else {
        Expires = GMTTextToLocalDateTime(expires);
    }
    Pragma = h.GetFieldValue("Pragma");
}

void TNetEntityHeaderInfo::BuildHeaderLines() {
    TNetHeaderList& h = HeaderLines;
    h.Clear();
    if (!Connection.empty()) h.SetFieldValue("Connection", Connection);
    if (!ContentVersion.empty()) h.SetFieldValue("Content-Version", ContentVersion);
    if (!ContentEncoding.empty()) h.SetFieldValue("Content-Encoding", ContentEncoding);
    if (!ContentLanguage.empty()) h.SetFieldValue("Content-Language", ContentLanguage);
    if (!ContentType.empty()) h.SetFieldValue("Content-Type", ContentType);
    if (ContentLength >= 0) h.SetFieldValue("Content-Length", IntToStr(ContentLength));
    if (!CacheControl.empty()) h.SetFieldValue("Cache-control", CacheControl);
    if (Date > 0) h.SetFieldValue("Date", DateTimeToInternetText(false, Date));
    if (Expires > 0) h.SetFieldValue("Expires", DateTimeToInternetText(false, Expires));
    if (LastModified > 0) h.SetFieldValue("Last-Modified", HttpDateText(LastModified));
    if (!Pragma.empty()) h.SetFieldValue("Pragma", Pragma);
    for (const std::string& line : CustomHeaders)
        h.Add(line);
}

// ---- request ------------------------------------------------------------

void TNetRequestHeaderInfo::ResetFields() {
    TNetEntityHeaderInfo::ResetFields();
    Accept.clear();
    AcceptCharSet.clear();
    AcceptEncoding.clear();
    AcceptLanguage.clear();
    Host.clear();
    From.clear();
    Referer.clear();
    UserAgent.clear();
    ProxyConnection.clear();
    Username.clear();
    Password.clear();
    BasicAuthentication = false;
}

void TNetRequestHeaderInfo::ParseHeaderLines() {
    const TNetHeaderList& h = HeaderLines;
    Accept = h.GetFieldValue("Accept");
    AcceptCharSet = h.GetFieldValue("Accept-Charset");
    AcceptEncoding = h.GetFieldValue("Accept-Encoding");
    AcceptLanguage = h.GetFieldValue("Accept-Language");
    Host = h.GetFieldValue("Host");
    From = h.GetFieldValue("From");
    Referer = h.GetFieldValue("Referer");
    UserAgent = h.GetFieldValue("User-Agent");
    std::string range = h.GetFieldValue("Range");
    if (!range.empty()) {
        FetchToken(range, "=", true, true);
        ContentRangeStart = NumberOrZero(FetchToken(range, "-", true, true));
        ContentRangeEnd = NumberOrZero(FetchToken(range, " ", true, true));
    }
    TNetEntityHeaderInfo::ParseHeaderLines();
}

void TNetRequestHeaderInfo::BuildHeaderLines() {
    TNetEntityHeaderInfo::BuildHeaderLines();
    TNetHeaderList& h = HeaderLines;
    if (!Accept.empty()) h.SetFieldValue("Accept", Accept);
    if (!AcceptCharSet.empty()) h.SetFieldValue("Accept-Charset", AcceptCharSet);
    if (!AcceptEncoding.empty()) h.SetFieldValue("Accept-Encoding", AcceptEncoding);
    if (!AcceptLanguage.empty()) h.SetFieldValue("Accept-Language", AcceptLanguage);
    if (!From.empty()) h.SetFieldValue("From", From);
    if (!Referer.empty()) h.SetFieldValue("Referer", Referer);
    if (!UserAgent.empty()) h.SetFieldValue("User-Agent", UserAgent);
    if (!Host.empty()) h.SetFieldValue("Host", Host);
    if (!ProxyConnection.empty()) h.SetFieldValue("Proxy-Connection", ProxyConnection);
    if (ContentRangeStart > 0 || ContentRangeEnd > 0) {
        std::string range = "bytes=" + IntToStr(ContentRangeStart) + "-";
        if (ContentRangeEnd > 0) range += IntToStr(ContentRangeEnd);
        h.SetFieldValue("Range", range);
    }
}

// ---- response -----------------------------------------------------------

TNetResponseHeaderInfo::TNetResponseHeaderInfo() {
    ContentType = "text/html";
}

void TNetResponseHeaderInfo::ResetFields() {
    TNetEntityHeaderInfo::ResetFields();
    ContentType = "text/html";
    Location.clear();
    Server.clear();
    ProxyConnection.clear();
    WWWAuthenticate.Clear();
    ProxyAuthenticate.Clear();
}

void TNetResponseHeaderInfo::ParseHeaderLines() {
    const TNetHeaderList& h = HeaderLines;
    Location = h.GetFieldValue("Location");
    Server = h.GetFieldValue("Server");
    ProxyConnection = h.GetFieldValue("Proxy-Connection");
    std::string range = h.GetFieldValue("Content-Range");
    if (!range.empty()) {
        FetchToken(range, " ", true, true); // the unit word
        ContentRangeStart = NumberOrZero(FetchToken(range, "-", true, true));
        ContentRangeEnd = NumberOrZero(FetchToken(range, "/", true, true));
    }
    WWWAuthenticate.Clear();
    h.ExtractValues("WWW-Authenticate", WWWAuthenticate);
    ProxyAuthenticate.Clear();
    h.ExtractValues("Proxy-Authenticate", ProxyAuthenticate);
    TNetEntityHeaderInfo::ParseHeaderLines();
}

void TNetResponseHeaderInfo::BuildHeaderLines() {
    TNetEntityHeaderInfo::BuildHeaderLines();
    TNetHeaderList& h = HeaderLines;
    if (!Server.empty()) h.Add("Server" + h.NameValueSeparator + Server);
    // Re-set after the custom lines: the known fields win over custom copies.
    if (!ContentType.empty()) h.SetFieldValue("Content-Type", ContentType);
    if (!Location.empty()) h.Add("Location" + h.NameValueSeparator + Location);
    if (ContentLength >= 0) h.SetFieldValue("Content-Length", IntToStr(ContentLength));
    if (LastModified > 0) h.SetFieldValue("Last-Modified", HttpDateText(LastModified));
}
