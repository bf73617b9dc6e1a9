#include "http/NetHTTPResponseInfo.h"

#include "common/Text.h"
#include "net/NetTCPConnection.h"

std::string HTTPStatusText(int code) {
    switch (code) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 203:
        return "Non-authoritative Information";
    case 204:
        return "No Content";
    case 205:
        return "Reset Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Moved Temporarily";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 305:
        return "Use Proxy";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method not allowed";
    case 406:
        return "Not Acceptable";
    case 407:
        return "Proxy Authentication Required";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 411:
        return "Length Required";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Request Entity To Long";
    case 414:
        return "Request-URI Too Long. 256 Chars max";
    case 415:
        return "Unsupported Media Type";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway timeout";
    case 505:
        return "HTTP version not supported";
    default:
        return "Unknown Response Code";
    }
}

TNetHTTPResponseInfo::TNetHTTPResponseInfo(TNetTCPConnection& connection)
    : connection_(connection) {
    ContentType = "text/html";
    Server = "kavaroXP/beta3";
    ContentLength = -1;
    HeaderLines.FoldLines = false;
}

TNetHTTPResponseInfo::~TNetHTTPResponseInfo() {
    DropPendingHeader(); // only left pending when the request failed
    ReleaseContentSource();
}

void TNetHTTPResponseInfo::SetStatusCode(int code) {
    statusCode_ = code;
    statusText_ = HTTPStatusText(code);
    if (code == 404) SetCloseAfterReply(true);
}

void TNetHTTPResponseInfo::SetCloseAfterReply(bool value) {
    closeAfterReply_ = value;
    TNetResponseHeaderInfo::Connection = value ? "close" : "keep-alive";
}

void TNetHTTPResponseInfo::SetContentSource(std::unique_ptr<TStream> stream) {
    ReleaseContentSource();
    contentSource_ = std::move(stream);
    OwnsContentSource = true;
}

void TNetHTTPResponseInfo::SetContentSource(TStream* stream, bool owns) {
    ReleaseContentSource();
    contentSource_.reset(stream);
    OwnsContentSource = owns;
}

void TNetHTTPResponseInfo::ReleaseContentSource() {
    if (!OwnsContentSource) (void)contentSource_.release(); // not ours to free
    contentSource_.reset();
}

void TNetHTTPResponseInfo::BuildHeaderLines() {
    TNetResponseHeaderInfo::BuildHeaderLines();
    if (!Realm.empty()) {
        SetStatusCode(401);
        HeaderLines.Add("WWW-Authenticate" + HeaderLines.NameValueSeparator + "Basic realm=\"" +
                        Realm + "\"");
        if (ContentLength == -1) {
            ContentString =
                "<HTML><BODY><B>" + IntToStr(statusCode_) + " Unauthorized</B></BODY></HTML>";
            ContentLength = static_cast<int64_t>(ContentString.size());
        }
    }
}

void TNetHTTPResponseInfo::SendHeader() {
    if (headerSent_) throw ENetHTTPHeaderAlreadyWritten();
    headerSent_ = true;
    if (ContentLength == -1) {
        if (!ContentString.empty())
            ContentLength = static_cast<int64_t>(ContentString.size());
        else if (contentSource_)
            ContentLength = contentSource_->Size();
    }
    BuildHeaderLines();
    // The header is collected and leaves with the first body bytes (or when
    // the handler returns): one send for a whole small response.
    if (!connection_.WriteBufferOpen()) {
        connection_.StartWriteBuffer(kCollectThreshold);
        headerPending_ = true;
    }
    try {
        WriteHeaderLines();
    } catch (...) {
        DropPendingHeader();
        throw;
    }
}

void TNetHTTPResponseInfo::WriteHeaderLines() {
    // Assembled first and handed over in one write: the same bytes as a
    // WriteLine per line, with one connection check instead of many.
    std::string block;
    block.reserve(512);
    block.append("HTTP/1.1 ")
        .append(IntToStr(statusCode_))
        .append(" ")
        .append(statusText_)
        .append("\r\n");
    for (const std::string& line : HeaderLines)
        block.append(line).append("\r\n");
    for (int i = 0; i < CookieList.Count(); ++i)
        block.append("Set-Cookie: ").append(CookieList[i].FormatServerCookie()).append("\r\n");
    block.append("\r\n");
    connection_.WriteText(block);
}

void TNetHTTPResponseInfo::FlushHeader() {
    if (!headerPending_) return;
    headerPending_ = false;
    connection_.FinishWriteBuffer();
}

void TNetHTTPResponseInfo::DropPendingHeader() noexcept {
    if (!headerPending_) return;
    headerPending_ = false;
    try {
        connection_.DiscardWriteBuffer();
        connection_.FinishWriteBuffer(); // closes the (now empty) collection
    } catch (...) {
    }
}

void TNetHTTPResponseInfo::SendContent() {
    if (!headerSent_) SendHeader();
    try {
        if (HeadOnly) {
            // nothing but the header
        } else if (contentSource_) {
            connection_.WriteFromStream(*contentSource_, true, false, 0);
        } else if (!ContentString.empty()) {
            connection_.WriteText(ContentString);
        } else {
            connection_.WriteLine("<HTML><BODY><B>" + IntToStr(statusCode_) + " " + statusText_ +
                                  "</B></BODY></HTML>");
        }
        FlushHeader();
    } catch (...) {
        DropPendingHeader();
        throw;
    }
    ContentString.clear();
    ReleaseContentSource();
}
