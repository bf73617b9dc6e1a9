#pragma once
// The HTTP side of a WHEP endpoint, apart from sockets: what a request to
// /whep or /whep/<session> is answered with.
//
//   POST /whep, application/sdp        201 + answer, Location: /whep/<id>
//   PATCH /whep/<id>, trickle-ice-sdpfrag   204
//   DELETE /whep/<id>                  200
//   OPTIONS                            204 + Allow
// A bad offer is 400 with a one-line reason, a full house 503, a wrong
// content type 415, a body over kMaxWhepBody 413, another method 405.
#include "platform/WhepInterfaces.h"

#include <string>
#include <string_view>

inline constexpr size_t kMaxWhepBody = 64 * 1024;

struct TWhepAnswer {
    int Status = 0;
    std::string ContentType; // of Body; empty without one
    std::string Body;
    std::string Location; // 201: the session's address
    std::string Allow;    // OPTIONS and 405: the methods the path takes
};

// path: the request target without query; contentType as sent (parameters
// allowed); peer: "host:port" of the client.
TWhepAnswer WhepHandle(IWhepEndpoint& endpoint, std::string_view method, std::string_view path,
                       std::string_view contentType, std::string_view body,
                       const std::string& peer = {});
