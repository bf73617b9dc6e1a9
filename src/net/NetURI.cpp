#include "net/NetURI.h"

#include "common/Text.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits `text` at its first `c`: before it stays, the rest (without `c`) is
// returned; nothing when `c` is absent.
std::string CutAt(std::string& text, char c) {
    const size_t at = text.find(c);
    if (at == std::string::npos) return {};
    std::string rest = text.substr(at + 1);
    text.erase(at);
    return rest;
}

} // namespace

TNetURI::TNetURI(std::string_view uri) {
    if (!uri.empty()) SetURI(uri);
}

// Path, document and parameters of a text without protocol and authority.
void TNetURI::SplitPathPart(std::string_view text) {
    size_t paramStart = text.find('?');
    if (paramStart == std::string_view::npos) paramStart = text.find('=');
    const std::string_view beforeParams =
        paramStart == std::string_view::npos ? text : text.substr(0, paramStart);
    const size_t lastSlash = beforeParams.rfind('/');
    path_ = lastSlash == std::string_view::npos ? std::string()
                                                : std::string(text.substr(0, lastSlash + 1));
    document_ = std::string(beforeParams.substr(path_.size()));
    params_ =
        paramStart == std::string_view::npos ? std::string() : std::string(text.substr(paramStart));
}

void TNetURI::SetURI(std::string_view uri) {
    uri_ = std::string(uri);
    for (char& c : uri_)
        if (c == '\\') c = '/';
    protocol_.clear();
    host_.clear();
    port_.clear();
    path_.clear();
    document_.clear();
    params_.clear();
    bookmark_.clear();
    username_.clear();
    password_.clear();

    const size_t scheme = uri_.find("://");
    if (scheme == std::string::npos) {
        SplitPathPart(uri_);
    } else {
        protocol_ = uri_.substr(0, scheme);
        const std::string_view afterScheme = std::string_view(uri_).substr(scheme + 3);
        // The authority also ends where a query or fragment begins, so that
        // "http://host?x" has the host "host".
        const size_t end = afterScheme.find_first_of("/?#");
        std::string authority(afterScheme.substr(0, end));
        std::string_view rest;
        if (end != std::string_view::npos)
            rest = afterScheme.substr(afterScheme[end] == '/' ? end + 1 : end);

        const size_t at = authority.find('@');
        if (at != std::string::npos) {
            username_ = authority.substr(0, at);
            authority.erase(0, at + 1);
            password_ = CutAt(username_, ':');
            if (username_.empty()) password_.clear();
        }
        host_ = authority;
        port_ = CutAt(host_, ':');

        SplitPathPart(rest);
        path_.insert(0, "/");
        bookmark_ = CutAt(document_, '#');
    }
    if (bookmark_.empty()) bookmark_ = CutAt(params_, '#');
}

std::string TNetURI::URLDecode(std::string_view text) {
    std::string r;
    r.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%') {
            r += text[i++];
            continue;
        }
        const int hi = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (hi >= 0 && lo >= 0 && (hi | lo) != 0) r += char(hi * 16 + lo);
        i += 3; // the escape goes, decoded or not
    }
    return r;
}
