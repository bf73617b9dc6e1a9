#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Splits a raw ASF byte stream into header (header object plus the 50-byte data
// object header) and data packets of the size the file properties announce.
class AsfPacketizer {
  public:
    using Bytes = std::vector<uint8_t>;
    std::function<void(Bytes header, uint32_t packetSize)> OnHeader;
    std::function<void(Bytes packet)> OnPacket;

    // Accepts any slicing of the stream. Returns false once the stream is
    // found malformed; everything after that is ignored.
    bool Feed(const uint8_t* data, size_t len);
    bool Failed() const { return failed_; }
    uint32_t PacketSize() const { return packetSize_; }
    void Reset();

    // Size of the header object and the packet size it announces; false when
    // the bytes are no ASF header.
    static bool ParseHeader(const uint8_t* data, size_t len, uint64_t& headerObjectSize,
                            uint32_t& packetSize);

    // asfmux writes a padded packet's length field as the bytes in use
    // (length + padding = packet size), where readers take it as the whole
    // packet and so see more padding than packet ("invalid padsize"). Makes
    // the field the packet's size; true when the packet was changed.
    static bool CompletePacketLength(uint8_t* packet, size_t size);

  private:
    Bytes pending_;
    size_t consumed_ = 0; // bytes of pending_ already handed out
    bool headerDone_ = false;
    bool failed_ = false;
    uint32_t packetSize_ = 0;
    uint64_t dataLeft_ = 0; // packet bytes the data object still holds; 0 = open-ended
    bool dataBounded_ = false;
};
