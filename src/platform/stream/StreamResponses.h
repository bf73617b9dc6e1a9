#pragma once
// Every answer the stream port gives. Each ends its connection, so every
// head closes with "Connection: close"; one writer builds them all.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

enum class StreamStatus {
    Ok = 200,
    Unauthorized = 401,
    Forbidden = 403,
    MethodNotAllowed = 405,
    TooManyRequests = 429,
    ServiceUnavailable = 503,
};

struct StreamResponseHeader {
    std::string_view name;
    std::string_view value;
};

// "HTTP/1.0 <status>", the headers in the order given, "Connection: close",
// the blank line.
std::string StreamResponseHead(StreamStatus status,
                               std::initializer_list<StreamResponseHeader> headers);

// Anything but GET.
std::string MethodNotAllowedAnswer();
// An ASF viewer past the viewer limit.
std::string AsfRefusedAnswer();
// A browser viewer refused, with the reason as the body ("full", "not
// running"). A page on another port reads the stream with fetch(): every
// browser answer, refusals included, names the origin that may read it
// (allowOrigin: "*", the page's own origin, or empty for none).
std::string WebmRefusedAnswer(std::string_view why, std::string_view allowOrigin = "*");
// A viewer turned away by the access check (401 with a Basic challenge, 403,
// 429), with a one-line reason as the body.
std::string AccessRefusedAnswer(StreamStatus status, std::string_view allowOrigin);
// The head before an ASF stream of the given content type; clientId goes to
// the player's "Pragma: client-id".
std::string AsfStreamHead(std::string_view contentType, uint32_t clientId);
// The head before the browser stream; codecs as the splitter names them
// (empty: unknown).
std::string WebmStreamHead(std::string_view codecs, std::string_view allowOrigin = "*");
