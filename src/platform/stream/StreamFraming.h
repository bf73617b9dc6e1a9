#pragma once
// How a viewer's stream goes on the wire: players get the ASF header and
// packets in Windows Media HTTP streaming chunks ($H, $D, then $E at the end);
// the plain ASF stream and the browser stream go out as they are.
#include "platform/stream/StreamViewer.h"

#include <cstdint>
#include <memory>
#include <vector>

class StreamFraming {
  public:
    using Bytes = std::vector<uint8_t>;
    virtual ~StreamFraming() = default;
    // Each sends one piece to the viewer; false when it cannot go out.
    virtual bool Header(StreamViewer& v, const Bytes& header) = 0;
    virtual bool Packet(StreamViewer& v, const Bytes& packet) = 0;
    virtual bool End(StreamViewer& v) = 0;
};

// Chunks, little-endian: type, length (payload + 8), sequence number, flags
// (0), the length again, then the payload. The header goes out in as many $H
// chunks as it needs (sequence 0); data and end chunks count up from 1.
class AsfChunkFraming final : public StreamFraming {
  public:
    // A chunk's length field is 16 bits and counts 8 bytes of its own header.
    static constexpr size_t kMaxPayload = 0xFFFF - 8;
    bool Header(StreamViewer& v, const Bytes& header) override;
    // A packet too large for one chunk cannot be sent: false.
    bool Packet(StreamViewer& v, const Bytes& packet) override;
    bool End(StreamViewer& v) override;

  private:
    bool Chunk(StreamViewer& v, uint16_t type, const uint8_t* data, size_t size);
    uint32_t seq_ = 0;
};

// The bytes as they are, nothing at the end.
class RawFraming final : public StreamFraming {
  public:
    bool Header(StreamViewer& v, const Bytes& header) override { return Packet(v, header); }
    bool Packet(StreamViewer& v, const Bytes& packet) override;
    bool End(StreamViewer&) override { return true; }
};

// The framing a viewer of this kind is sent.
std::unique_ptr<StreamFraming> MakeStreamFraming(StreamViewerKind kind);
