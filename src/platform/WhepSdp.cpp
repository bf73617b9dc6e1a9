#include "platform/WhepSdp.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace {

constexpr long kMaxSections = 8;

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// The value of key=... in an fmtp parameter list ("a=b;c=d").
std::string FmtpValue(std::string_view params, std::string_view key) {
    std::string lower = Lower(params);
    for (size_t pos = 0; pos < lower.size();) {
        size_t end = lower.find(';', pos);
        std::string_view item = std::string_view(lower).substr(pos, end - pos);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        if (StartsWith(item, key) && item.size() > key.size() && item[key.size()] == '=')
            return std::string(item.substr(key.size() + 1));
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return {};
}

// Profile 0x42 (baseline) with constraint_set1: what every decoder of
// constrained baseline plays.
bool ConstrainedBaseline(const std::string& profileLevelId) {
    if (profileLevelId.size() != 6) return false;
    char* end = nullptr;
    const long v = std::strtol(profileLevelId.c_str(), &end, 16);
    return end && *end == 0 && (v >> 16) == 0x42 && ((v >> 8) & 0x40);
}

int LeadingInt(std::string_view s) {
    int v = 0;
    size_t i = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && v < 1000; ++i)
        v = v * 10 + (s[i] - '0');
    return i ? v : -1;
}

// The candidate's address (its fifth field) is an mDNS name.
bool MdnsCandidate(std::string_view candidate) {
    std::istringstream in{std::string(candidate)};
    std::string field;
    for (int i = 0; i < 5 && in >> field; ++i) {
    }
    return field.size() > 6 && Lower(field).ends_with(".local");
}

} // namespace

TWhepVideoFormat WhepVideoFormat(std::string_view sdp) {
    bool video = false;
    std::vector<int> h264;
    TWhepVideoFormat found;
    // rtpmap lines come before their fmtp in practice, but need not.
    std::vector<std::pair<int, std::string>> fmtps;
    for (std::string_view line : Lines(sdp)) {
        if (StartsWith(line, "m=")) {
            if (video) break; // the first video section is the one answered
            video = StartsWith(line, "m=video ");
        } else if (video && StartsWith(line, "a=rtpmap:")) {
            std::string_view rest = line.substr(9);
            const int pt = LeadingInt(rest);
            const size_t space = rest.find(' ');
            if (pt >= 0 && space != std::string_view::npos &&
                StartsWith(Lower(rest.substr(space + 1)), "h264/90000"))
                h264.push_back(pt);
        } else if (video && StartsWith(line, "a=fmtp:")) {
            std::string_view rest = line.substr(7);
            const size_t space = rest.find(' ');
            if (space != std::string_view::npos)
                fmtps.emplace_back(LeadingInt(rest), std::string(rest.substr(space + 1)));
        }
    }
    for (auto& [pt, params] : fmtps) {
        if (std::find(h264.begin(), h264.end(), pt) == h264.end()) continue;
        const std::string level = FmtpValue(params, "profile-level-id");
        if (FmtpValue(params, "packetization-mode") == "1" && ConstrainedBaseline(level)) {
            found.Pt = pt;
            found.ProfileLevelId = level;
            break;
        }
    }
    return found;
}

std::string WhepOfferProblem(std::string_view sdp) {
    const std::vector<std::string_view> lines = Lines(sdp);
    if (lines.empty() || lines.front() != "v=0") return "the offer is not SDP";
    const bool video = std::any_of(lines.begin(), lines.end(),
                                   [](std::string_view l) { return StartsWith(l, "m=video "); });
    if (!video) return "the offer has no video";
    // Each section costs a transceiver; a viewer needs two.
    if (std::count_if(lines.begin(), lines.end(),
                      [](std::string_view l) { return StartsWith(l, "m="); }) > kMaxSections)
        return "the offer has too many media sections";
    if (WhepVideoFormat(sdp).Pt == 0)
        return "the offer's video has no H.264 constrained baseline (packetization mode 1)";
    return {};
}

std::vector<std::string> SdpMids(std::string_view sdp) {
    std::vector<std::string> mids;
    for (std::string_view line : Lines(sdp)) {
        if (StartsWith(line, "m="))
            mids.emplace_back();
        else if (!mids.empty() && StartsWith(line, "a=mid:"))
            mids.back() = std::string(line.substr(6));
    }
    return mids;
}

std::string WithoutMdnsCandidates(std::string_view sdp) {
    std::string out;
    out.reserve(sdp.size());
    for (std::string_view line : Lines(sdp)) {
        if (StartsWith(line, "a=candidate:") && MdnsCandidate(line.substr(2))) continue;
        out.append(line);
        out.append("\r\n");
    }
    return out;
}

bool FragmentCandidates(std::string_view fragment, std::vector<TSdpCandidate>& out) {
    out.clear();
    std::string mid;
    bool any = false;
    for (std::string_view line : Lines(fragment)) {
        if (line.empty()) continue;
        if (line.size() < 2 || line[1] != '=') return false;
        any = true;
        if (StartsWith(line, "m="))
            mid.clear();
        else if (StartsWith(line, "a=mid:"))
            mid = std::string(line.substr(6));
        else if (StartsWith(line, "a=candidate:"))
            out.push_back({mid, std::string(line.substr(2))});
    }
    return any;
}
