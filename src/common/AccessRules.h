#pragma once
// Who may connect to a private broadcast, apart from its password: address
// ranges let in or kept out ("192.168.1.0/24", "10.0.0.7", "fd00::/8"),
// addresses blocked for the rest of a broadcast, and addresses that guessed
// wrong too often. Shared by both servers, so that a rule holds for every
// path alike.
//
// Threads: any; lock_ guards the lists of each object.
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TAddressRange {
  public:
    // "ADDRESS" or "ADDRESS/BITS", IPv4 or IPv6; nothing when malformed.
    static std::optional<TAddressRange> Parse(const std::string& text);
    // address: as a peer's "host:port", "[v6]:port" or a bare address.
    bool Contains(const std::string& address) const;
    const std::string& Text() const { return text_; }

  private:
    std::array<uint8_t, 16> bytes_{}; // IPv4 as ::ffff:a.b.c.d
    int bits_ = 0;                    // of the 128
    std::string text_;
};

// The address of a peer's "host:port" or "[v6]:port" as 16 bytes (IPv4
// mapped); nothing when it is no address.
std::optional<std::array<uint8_t, 16>> ParsePeerAddress(const std::string& address);

class TAddressRules {
  public:
    // With allow ranges, only addresses in one of them come in; a deny
    // range or a block keeps an address out whatever else says.
    void Allow(TAddressRange range);
    void Deny(TAddressRange range);
    // For the rest of the broadcast (the viewers list's "block").
    void Block(const std::string& address);
    void ClearBlocks();
    bool Admits(const std::string& address) const;

  private:
    mutable std::mutex lock_;
    std::vector<TAddressRange> allow_, deny_;
    std::vector<std::array<uint8_t, 16>> blocked_;
};

// More than kMaxFailures failed tries within a minute from one address, and
// that address is refused for a minute.
class TFailedTries {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMaxFailures = 10;
    static constexpr auto kWindow = std::chrono::minutes(1);
    static constexpr size_t kMaxAddresses = 10000;

    bool Refused(const std::string& address, Clock::time_point now);
    void Failed(const std::string& address, Clock::time_point now);
    void Clear();

  private:
    struct TRecord {
        std::vector<Clock::time_point> Failures; // within the window
        Clock::time_point RefusedUntil{};
    };
    std::string Key(const std::string& address) const;
    std::mutex lock_;
    std::map<std::string, TRecord> records_;
};

// Compares two secrets in time that depends on their lengths only.
bool SameSecret(std::string_view a, std::string_view b);
