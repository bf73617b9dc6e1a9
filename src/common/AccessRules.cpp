#include "common/AccessRules.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace {

std::optional<std::array<uint8_t, 16>> ParseBare(const std::string& host) {
    std::array<uint8_t, 16> out{};
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        out[10] = out[11] = 0xFF;
        std::memcpy(out.data() + 12, &v4, 4);
        return out;
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        std::memcpy(out.data(), &v6, 16);
        return out;
    }
    return std::nullopt;
}

bool SamePrefix(const std::array<uint8_t, 16>& a, const std::array<uint8_t, 16>& b, int bits) {
    int i = 0;
    for (; bits >= 8; bits -= 8, ++i)
        if (a[i] != b[i]) return false;
    if (bits == 0) return true;
    const uint8_t mask = uint8_t(0xFF << (8 - bits));
    return (a[i] & mask) == (b[i] & mask);
}

} // namespace

std::optional<std::array<uint8_t, 16>> ParsePeerAddress(const std::string& address) {
    if (address.size() > 2 && address.front() == '[') {
        const size_t close = address.find(']');
        if (close == std::string::npos) return std::nullopt;
        return ParseBare(address.substr(1, close - 1));
    }
    // "a.b.c.d:port"; a bare IPv6 address has more than one colon.
    const size_t colon = address.find(':');
    if (colon != std::string::npos && address.find(':', colon + 1) == std::string::npos)
        return ParseBare(address.substr(0, colon));
    return ParseBare(address);
}

std::optional<TAddressRange> TAddressRange::Parse(const std::string& text) {
    const size_t slash = text.find('/');
    const std::string host = text.substr(0, slash);
    std::optional<std::array<uint8_t, 16>> bytes = ParseBare(host);
    if (!bytes || host.empty()) return std::nullopt;
    const bool v4 = host.find(':') == std::string::npos;
    int bits = v4 ? 32 : 128;
    if (slash != std::string::npos) {
        const std::string digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 3 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        bits = std::stoi(digits);
        if (bits > (v4 ? 32 : 128)) return std::nullopt;
    }
    TAddressRange range;
    range.bytes_ = *bytes;
    range.bits_ = v4 ? 96 + bits : bits;
    range.text_ = text;
    return range;
}

bool TAddressRange::Contains(const std::string& address) const {
    const std::optional<std::array<uint8_t, 16>> peer = ParsePeerAddress(address);
    return peer && SamePrefix(*peer, bytes_, bits_);
}

void TAddressRules::Allow(TAddressRange range) {
    std::lock_guard lock(lock_);
    allow_.push_back(std::move(range));
}

void TAddressRules::Deny(TAddressRange range) {
    std::lock_guard lock(lock_);
    deny_.push_back(std::move(range));
}

void TAddressRules::Block(const std::string& address) {
    if (const auto peer = ParsePeerAddress(address)) {
        std::lock_guard lock(lock_);
        blocked_.push_back(*peer);
    }
}

void TAddressRules::ClearBlocks() {
    std::lock_guard lock(lock_);
    blocked_.clear();
}

bool TAddressRules::Admits(const std::string& address) const {
    const std::optional<std::array<uint8_t, 16>> peer = ParsePeerAddress(address);
    std::lock_guard lock(lock_);
    // What cannot be read as an address is let in only where nothing is restricted.
    if (!peer) return allow_.empty() && deny_.empty() && blocked_.empty();
    if (std::find(blocked_.begin(), blocked_.end(), *peer) != blocked_.end()) return false;
    for (const TAddressRange& r : deny_)
        if (r.Contains(address)) return false;
    if (allow_.empty()) return true;
    return std::any_of(allow_.begin(), allow_.end(),
                       [&](const TAddressRange& r) { return r.Contains(address); });
}

std::string TFailedTries::Key(const std::string& address) const {
    // The port changes with every connection; the host is who tries.
    if (const auto peer = ParsePeerAddress(address))
        return std::string(reinterpret_cast<const char*>(peer->data()), peer->size());
    return address;
}

bool TFailedTries::Refused(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(lock_);
    auto it = records_.find(Key(address));
    return it != records_.end() && now < it->second.RefusedUntil;
}

void TFailedTries::Failed(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(lock_);
    // Forget addresses that have been quiet for a while, so that the table stays small.
    for (auto it = records_.begin(); it != records_.end();) {
        const TRecord& r = it->second;
        const bool quiet =
            (r.Failures.empty() || now - r.Failures.back() > kWindow) && now >= r.RefusedUntil;
        it = quiet ? records_.erase(it) : std::next(it);
    }
    // A flood from many addresses must not grow the table without bound.
    if (records_.size() >= kMaxAddresses) records_.erase(records_.begin());
    TRecord& record = records_[Key(address)];
    std::erase_if(record.Failures, [&](Clock::time_point t) { return now - t > kWindow; });
    record.Failures.push_back(now);
    if (int(record.Failures.size()) > kMaxFailures) {
        record.RefusedUntil = now + kWindow;
        record.Failures.clear();
    }
}

void TFailedTries::Clear() {
    std::lock_guard lock(lock_);
    records_.clear();
}

bool SameSecret(std::string_view a, std::string_view b) {
    // Every byte of the longer is looked at, whatever differs first.
    const size_t n = std::max(a.size(), b.size());
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= x ^ y;
    }
    return diff == 0;
}
