// The ASF packetizer on an arbitrary byte stream, fed in uneven pieces.
#include "FuzzSupport.h"
#include "platform/AsfPacketizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AsfPacketizer packetizer;
    size_t total = 0;
    packetizer.OnHeader = [&](AsfPacketizer::Bytes header, uint32_t) { total += header.size(); };
    packetizer.OnPacket = [&](AsfPacketizer::Bytes packet) { total += packet.size(); };
    size_t pos = 0;
    for (size_t step = 1; pos < size && !packetizer.Failed(); step = step * 3 % 61 + 1) {
        const size_t n = std::min(step, size - pos);
        packetizer.Feed(data + pos, n);
        pos += n;
    }
    return 0;
}
