#pragma once
// Hand-made ASF streams for the packetizer and stream server tests.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace asftest {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, const uint8_t* p, size_t n) {
    b.insert(b.end(), p, p + n);
}
inline void Put64(Bytes& b, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

inline constexpr uint8_t kHeaderId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr uint8_t kFilePropsId[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
inline constexpr uint8_t kDataId[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// A minimal ASF header (header object with file properties) plus the data
// object header, announcing packets of packetSize; dataSize 0 = live.
inline Bytes MakeHeader(uint32_t packetSize, uint64_t dataSize = 0, uint32_t minSize = 0) {
    Bytes fp;
    Put(fp, kFilePropsId, 16);
    Put64(fp, 104);
    fp.resize(fp.size() + 16 + 8 * 6, 0); // file id, sizes, dates, durations, preroll
    Put32(fp, 0);                         // flags
    Put32(fp, minSize ? minSize : packetSize);
    Put32(fp, packetSize);
    Put32(fp, 100000);
    Bytes h;
    Put(h, kHeaderId, 16);
    Put64(h, 30 + fp.size());
    Put32(h, 1);
    h.push_back(1);
    h.push_back(2);
    h.insert(h.end(), fp.begin(), fp.end());
    Put(h, kDataId, 16);
    Put64(h, dataSize);
    h.resize(h.size() + 16 + 8, 0);
    h.push_back(1);
    h.push_back(1);
    return h;
}

inline Bytes MakePacket(uint32_t size, uint8_t fill) {
    return Bytes(size, fill);
}

} // namespace asftest
