#pragma once
// The local address list: the IPv4 addresses a viewer may use to reach this
// host, for the address box of the main window.
#include "common/Exception.h"
#include "common/StringList.h"

#include <functional>
#include <string>
#include <vector>

class ESocketException : public Exception {
  public:
    using Exception::Exception;
};

// The host name; raises ESocketException "Winsock.GetHostName failed" when
// the name does not fit the 64-byte buffer (63 characters and the zero) or
// the call fails.
std::string LocalHostName();

// The IPv4 addresses the name lookup gives for name, in lookup order; empty
// when the lookup finds nothing. Raises ESocketException
// "HostEntryByName: Invalid Hostname." for an empty name or one of 257
// characters or more.
std::vector<std::string> HostEntryByName(const std::string& name);

// The shared list, cleared and refilled on every call: the lookup addresses
// of the host name, then the IPv4 addresses of the interfaces that are up,
// without duplicates, loopback addresses last. Name lookup on Linux usually
// yields only 127.0.1.1, which no viewer can reach, hence the interfaces.
TStringList& LocalAddressList();

// Where WebRTC viewers are offered to connect: the announced address first;
// when the servers listen on every interface (listenAddress empty), then
// the other addresses of the interfaces that are up, loopback left out.
std::vector<std::string> WebRtcAddresses(const std::string& announced,
                                         const std::string& listenAddress);

// The merge rule of LocalAddressList: lookup order first, then interface
// order, each address once, every 127.x.x.x address moved to the end (in the
// order met).
std::vector<std::string> MergeAddressLists(const std::vector<std::string>& lookup,
                                           const std::vector<std::string>& interfaces);

// Test seams: the host-name call (gethostname's contract: buffer, length,
// 0 on success) and the interface list. Passing an empty function restores
// the system's.
using THostNameSource = std::function<int(char* buffer, size_t length)>;
using TInterfaceSource = std::function<std::vector<std::string>()>;
void SetHostNameSource(THostNameSource source);
void SetInterfaceSource(TInterfaceSource source);
