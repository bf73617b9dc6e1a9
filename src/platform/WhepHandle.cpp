#include "platform/WhepHandle.h"

#include "platform/WhepSdp.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view kPrefix = "/whep";

// The media type without parameters, lower case.
std::string MediaType(std::string_view contentType) {
    std::string type(contentType.substr(0, contentType.find(';')));
    type.erase(std::remove_if(type.begin(), type.end(), [](unsigned char c) { return c == ' '; }),
               type.end());
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return type;
}

TWhepAnswer Text(int status, std::string text) {
    TWhepAnswer a;
    a.Status = status;
    a.ContentType = "text/plain; charset=utf-8";
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    a.Body = std::move(text) + "\n";
    return a;
}

TWhepAnswer Status(int status, std::string allow = {}) {
    TWhepAnswer a;
    a.Status = status;
    a.Allow = std::move(allow);
    return a;
}

// A session id is what we hand out: letters and digits only.
bool ValidId(std::string_view id) {
    return !id.empty() && id.size() <= 64 &&
           std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isalnum(c); });
}

} // namespace

TWhepAnswer WhepHandle(IWhepEndpoint& endpoint, std::string_view method, std::string_view path,
                       std::string_view contentType, std::string_view body,
                       const std::string& peer) {
    if (path.substr(0, kPrefix.size()) != kPrefix) return Text(404, "no such endpoint");
    std::string_view rest = path.substr(kPrefix.size());
    if (rest == "/") rest = {};
    const bool session = !rest.empty();
    if (session && (rest[0] != '/' || !ValidId(rest.substr(1))))
        return Text(404, "no such session");
    const std::string id(session ? rest.substr(1) : std::string_view{});
    const char* allow = session ? "PATCH, DELETE, OPTIONS" : "POST, OPTIONS";

    if (method == "OPTIONS") return Status(204, allow);
    if (session ? method != "PATCH" && method != "DELETE" : method != "POST") {
        TWhepAnswer a = Text(405, "method not allowed");
        a.Allow = allow;
        return a;
    }
    if (method == "DELETE") {
        const int status = endpoint.Delete(id);
        return status == 200 ? Status(200) : Text(status, "no such session");
    }
    if (body.size() > kMaxWhepBody) return Text(413, "the body is too large");
    const std::string type = MediaType(contentType);
    if (method == "PATCH") {
        if (type != "application/trickle-ice-sdpfrag")
            return Text(415, "expected application/trickle-ice-sdpfrag");
        const int status = endpoint.Patch(id, std::string(body));
        if (status == 204) return Status(204);
        return Text(status, status == 404 ? "no such session" : "not an ICE fragment");
    }
    if (type != "application/sdp") return Text(415, "expected application/sdp");
    if (std::string problem = WhepOfferProblem(body); !problem.empty()) return Text(400, problem);
    TWhepOfferResult offer = endpoint.Offer(std::string(body), peer);
    if (offer.Status != 201)
        return Text(offer.Status ? offer.Status : 500,
                    offer.Reason.empty() ? "the offer was not answered" : offer.Reason);
    TWhepAnswer a;
    a.Status = 201;
    a.ContentType = "application/sdp";
    a.Body = std::move(offer.AnswerSdp);
    a.Location = std::string(kPrefix) + "/" + offer.SessionId;
    return a;
}
