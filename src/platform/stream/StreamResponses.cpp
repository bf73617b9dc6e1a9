#include "platform/stream/StreamResponses.h"

namespace {

std::string_view StatusLine(StreamStatus status) {
    switch (status) {
    case StreamStatus::Ok:
        return "HTTP/1.0 200 OK\r\n";
    case StreamStatus::Unauthorized:
        return "HTTP/1.0 401 Unauthorized\r\n";
    case StreamStatus::Forbidden:
        return "HTTP/1.0 403 Forbidden\r\n";
    case StreamStatus::MethodNotAllowed:
        return "HTTP/1.0 405 Method Not Allowed\r\n";
    case StreamStatus::TooManyRequests:
        return "HTTP/1.0 429 Too Many Requests\r\n";
    case StreamStatus::ServiceUnavailable:
        break;
    }
    return "HTTP/1.0 503 Service Unavailable\r\n";
}

} // namespace

std::string StreamResponseHead(StreamStatus status,
                               std::initializer_list<StreamResponseHeader> headers) {
    std::string head(StatusLine(status));
    for (const StreamResponseHeader& h : headers) {
        head += h.name;
        head += ": ";
        head += h.value;
        head += "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    return head;
}

std::string MethodNotAllowedAnswer() {
    return StreamResponseHead(StreamStatus::MethodNotAllowed,
                              {{"Allow", "GET"}, {"Content-Length", "0"}});
}

std::string AsfRefusedAnswer() {
    return StreamResponseHead(StreamStatus::ServiceUnavailable,
                              {{"Content-Type", "text/plain"}, {"Content-Length", "0"}});
}

namespace {

// The origin header (and Vary for a named origin) inserted after the line at
// which ends; empty allowOrigin: none.
std::string WithOrigin(std::string head, size_t at, std::string_view allowOrigin) {
    if (allowOrigin.empty()) return head;
    std::string origin = "Access-Control-Allow-Origin: " + std::string(allowOrigin) + "\r\n";
    if (allowOrigin != "*") origin += "Vary: Origin\r\n";
    return head.insert(at, origin);
}

// The head with the origin header first after the status line.
std::string HeadFor(StreamStatus status, std::string_view allowOrigin,
                    std::initializer_list<StreamResponseHeader> headers) {
    std::string head = StreamResponseHead(status, headers);
    const size_t line = head.find("\r\n") + 2;
    return WithOrigin(std::move(head), line, allowOrigin);
}

} // namespace

std::string WebmRefusedAnswer(std::string_view why, std::string_view allowOrigin) {
    const std::string length = std::to_string(why.size());
    return HeadFor(StreamStatus::ServiceUnavailable, allowOrigin,
                   {{"Content-Type", "text/plain"}, {"Content-Length", length}}) +
           std::string(why);
}

std::string AccessRefusedAnswer(StreamStatus status, std::string_view allowOrigin) {
    const std::string_view why = status == StreamStatus::Unauthorized ? "password needed"
                                 : status == StreamStatus::TooManyRequests
                                     ? "too many wrong passwords: try again in a minute"
                                     : "not allowed";
    const std::string length = std::to_string(why.size());
    std::string head = status == StreamStatus::Unauthorized
                           ? HeadFor(status, allowOrigin,
                                     {{"WWW-Authenticate", "Basic realm=\"kavaroXP\""},
                                      {"Content-Type", "text/plain"},
                                      {"Content-Length", length}})
                       : status == StreamStatus::TooManyRequests
                           ? HeadFor(status, allowOrigin,
                                     {{"Retry-After", "60"},
                                      {"Content-Type", "text/plain"},
                                      {"Content-Length", length}})
                           : HeadFor(status, allowOrigin,
                                     {{"Content-Type", "text/plain"}, {"Content-Length", length}});
    return head + std::string(why);
}

std::string AsfStreamHead(std::string_view contentType, uint32_t clientId) {
    const std::string id = "client-id=" + std::to_string(clientId);
    return StreamResponseHead(StreamStatus::Ok, {{"Content-Type", contentType},
                                                 {"Server", "kavaroXP"},
                                                 {"Cache-Control", "no-cache"},
                                                 {"Pragma", "no-cache"},
                                                 {"Pragma", id},
                                                 {"Pragma", "features=\"broadcast\""}});
}

std::string WebmStreamHead(std::string_view codecs, std::string_view allowOrigin) {
    std::string type = "video/webm";
    if (!codecs.empty()) type += "; codecs=\"" + std::string(codecs) + "\"";
    std::string head = StreamResponseHead(StreamStatus::Ok, {{"Content-Type", type},
                                                             {"Server", "kavaroXP"},
                                                             {"Cache-Control", "no-cache"},
                                                             {"Pragma", "no-cache"}});
    // After the type, where it always stood.
    const size_t at = head.find("\r\n", head.find("Content-Type")) + 2;
    return WithOrigin(std::move(head), at, allowOrigin);
}
