#include "app/AddressList.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include "common/Replaceable.h"

#include <algorithm>
#include <cstring>

namespace {

// The list itself is used on the UI thread only.
TReplaceable<THostNameSource> gHostNameSource;
TReplaceable<TInterfaceSource> gInterfaceSource;

std::string Ipv4Text(const sockaddr* addr) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
    if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) return {};
    return text;
}

std::vector<std::string> SystemInterfaces() {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* p = list; p; p = p->ifa_next) {
        if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET) continue;
        if (!(p->ifa_flags & IFF_UP)) continue;
        std::string text = Ipv4Text(p->ifa_addr);
        if (!text.empty()) out.push_back(std::move(text));
    }
    freeifaddrs(list);
    return out;
}

bool IsLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0;
}

} // namespace

void SetHostNameSource(THostNameSource source) {
    gHostNameSource.Set(std::move(source));
}

void SetInterfaceSource(TInterfaceSource source) {
    gInterfaceSource.Set(std::move(source));
}

std::string LocalHostName() {
    const THostNameSource source = gHostNameSource.Get();
    char buffer[64] = {};
    const int rc = source ? source(buffer, sizeof buffer) : gethostname(buffer, sizeof buffer);
    // glibc cuts a long name silently (without a terminating zero); a name
    // that filled the whole buffer did not fit.
    if (rc != 0 || std::memchr(buffer, 0, sizeof buffer) == nullptr)
        throw ESocketException("Winsock.GetHostName failed");
    return std::string(buffer);
}

std::vector<std::string> HostEntryByName(const std::string& name) {
    if (name.empty() || name.size() > 256)
        throw ESocketException("HostEntryByName: Invalid Hostname.");
    std::vector<std::string> out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0) return out;
    for (addrinfo* p = result; p; p = p->ai_next) {
        if (!p->ai_addr || p->ai_family != AF_INET) continue;
        std::string text = Ipv4Text(p->ai_addr);
        if (!text.empty() && std::find(out.begin(), out.end(), text) == out.end())
            out.push_back(std::move(text));
    }
    freeaddrinfo(result);
    return out;
}

std::vector<std::string> MergeAddressLists(const std::vector<std::string>& lookup,
                                           const std::vector<std::string>& interfaces) {
    std::vector<std::string> reachable, loopback;
    auto add = [&](const std::string& a) {
        if (a.empty()) return;
        auto& target = IsLoopback(a) ? loopback : reachable;
        if (std::find(target.begin(), target.end(), a) == target.end()) target.push_back(a);
    };
    for (const auto& a : lookup)
        add(a);
    for (const auto& a : interfaces)
        add(a);
    reachable.insert(reachable.end(), loopback.begin(), loopback.end());
    return reachable;
}

std::vector<std::string> WebRtcAddresses(const std::string& announced,
                                         const std::string& listenAddress) {
    std::vector<std::string> out{announced};
    if (!listenAddress.empty()) return out;
    const TInterfaceSource source = gInterfaceSource.Get();
    for (const std::string& a : source ? source() : SystemInterfaces())
        if (!IsLoopback(a) && std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
    return out;
}

TStringList& LocalAddressList() {
    static TStringList shared;
    shared.Clear();
    const std::vector<std::string> lookup = HostEntryByName(LocalHostName());
    const TInterfaceSource source = gInterfaceSource.Get();
    for (auto& a : MergeAddressLists(lookup, source ? source() : SystemInterfaces()))
        shared.Add(a);
    return shared;
}
