#include "platform/stream/StreamFraming.h"

#include <algorithm>
#include <sys/uio.h>

namespace {

constexpr uint16_t kChunkHeader = 0x4824; // "$H"
constexpr uint16_t kChunkData = 0x4424;   // "$D"
constexpr uint16_t kChunkEnd = 0x4524;    // "$E"

} // namespace

bool AsfChunkFraming::Chunk(StreamViewer& v, uint16_t type, const uint8_t* data, size_t size) {
    const uint16_t len = uint16_t(size + 8);
    uint8_t head[12] = {uint8_t(type & 0xFF),
                        uint8_t(type >> 8),
                        uint8_t(len & 0xFF),
                        uint8_t(len >> 8),
                        uint8_t(seq_ & 0xFF),
                        uint8_t(seq_ >> 8),
                        uint8_t(seq_ >> 16),
                        uint8_t(seq_ >> 24),
                        0,
                        0,
                        uint8_t(len & 0xFF),
                        uint8_t(len >> 8)};
    iovec iov[2] = {{head, sizeof head}, {const_cast<uint8_t*>(data), size}};
    return v.Send(iov, size > 0 ? 2 : 1);
}

bool AsfChunkFraming::Header(StreamViewer& v, const Bytes& header) {
    size_t off = 0;
    do {
        const size_t part = std::min(header.size() - off, kMaxPayload);
        if (!Chunk(v, kChunkHeader, header.data() + off, part)) return false;
        off += part;
    } while (off < header.size());
    return true;
}

bool AsfChunkFraming::Packet(StreamViewer& v, const Bytes& packet) {
    if (packet.size() > kMaxPayload) return false;
    ++seq_;
    return Chunk(v, kChunkData, packet.data(), packet.size());
}

bool AsfChunkFraming::End(StreamViewer& v) {
    ++seq_;
    return Chunk(v, kChunkEnd, nullptr, 0);
}

bool RawFraming::Packet(StreamViewer& v, const Bytes& packet) {
    iovec iov{const_cast<uint8_t*>(packet.data()), packet.size()};
    return v.Send(&iov, 1);
}

std::unique_ptr<StreamFraming> MakeStreamFraming(StreamViewerKind kind) {
    if (kind == StreamViewerKind::Describe || kind == StreamViewerKind::Play)
        return std::make_unique<AsfChunkFraming>();
    return std::make_unique<RawFraming>();
}
