#include "platform/stream/StreamResponses.h"

namespace {

std::string_view StatusLine(StreamStatus status) {
    switch (status) {
    case StreamStatus::Ok:
        return "HTTP/1.0 200 OK\r\n";
    case StreamStatus::MethodNotAllowed:
        return "HTTP/1.0 405 Method Not Allowed\r\n";
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

std::string WebmRefusedAnswer(std::string_view why) {
    const std::string length = std::to_string(why.size());
    return StreamResponseHead(StreamStatus::ServiceUnavailable,
                              {{"Access-Control-Allow-Origin", "*"},
                               {"Content-Type", "text/plain"},
                               {"Content-Length", length}}) +
           std::string(why);
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

std::string WebmStreamHead(std::string_view codecs) {
    std::string type = "video/webm";
    if (!codecs.empty()) type += "; codecs=\"" + std::string(codecs) + "\"";
    return StreamResponseHead(StreamStatus::Ok, {{"Content-Type", type},
                                                 {"Access-Control-Allow-Origin", "*"},
                                                 {"Server", "kavaroXP"},
                                                 {"Cache-Control", "no-cache"},
                                                 {"Pragma", "no-cache"}});
}
