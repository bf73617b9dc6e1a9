#include "platform/AsfPacketizer.h"

#include <cstring>

namespace {

constexpr uint8_t kHeaderObjectId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                         0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kFilePropertiesId[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                           0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr size_t kDataObjectHeaderSize = 50;
// No sensible header is larger; a bigger size means the bytes are not ASF.
constexpr uint64_t kMaxHeaderSize = 16 * 1024 * 1024;

uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// Width in bytes of a packet field whose length type is the two bits at shift.
size_t FieldWidth(uint8_t flags, int shift) {
    static constexpr size_t kWidths[4] = {0, 1, 2, 4};
    return kWidths[(flags >> shift) & 3];
}

uint32_t ReadField(const uint8_t* p, size_t width) {
    uint32_t v = 0;
    for (size_t i = width; i-- > 0;)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

bool AsfPacketizer::CompletePacketLength(uint8_t* packet, size_t size) {
    size_t pos = 0;
    // Error correction data first, when its flag (the top bit) is set.
    if (size > 0 && (packet[0] & 0x80)) pos = 1 + (packet[0] & 0x0F);
    if (pos + 2 > size) return false;
    const uint8_t flags = packet[pos];
    pos += 2; // the length type flags and the property flags
    const size_t lengthWidth = FieldWidth(flags, 5), sequenceWidth = FieldWidth(flags, 1),
                 paddingWidth = FieldWidth(flags, 3);
    if (lengthWidth < 2 || paddingWidth == 0 ||
        pos + lengthWidth + sequenceWidth + paddingWidth > size)
        return false;
    uint8_t* lengthField = packet + pos;
    const uint32_t length = ReadField(lengthField, lengthWidth);
    const uint32_t padding = ReadField(lengthField + lengthWidth + sequenceWidth, paddingWidth);
    if (length >= size || uint64_t(length) + padding != size) return false;
    for (size_t i = 0; i < lengthWidth; ++i)
        lengthField[i] = uint8_t(uint64_t(size) >> (8 * i));
    return true;
}

bool AsfPacketizer::ParseHeader(const uint8_t* data, size_t len, uint64_t& headerObjectSize,
                                uint32_t& packetSize) {
    if (len < 30 || std::memcmp(data, kHeaderObjectId, 16) != 0) return false;
    headerObjectSize = Le64(data + 16);
    if (headerObjectSize < 30 || headerObjectSize > kMaxHeaderSize || headerObjectSize > len)
        return false;
    // Walk the header's sub-objects for the file properties.
    size_t pos = 30;
    while (pos + 24 <= headerObjectSize) {
        uint64_t size = Le64(data + pos + 16);
        if (size < 24 || size > headerObjectSize - pos) return false;
        if (std::memcmp(data + pos, kFilePropertiesId, 16) == 0) {
            if (size < 104) return false;
            uint32_t minSize = Le32(data + pos + 92);
            uint32_t maxSize = Le32(data + pos + 96);
            // Live streams need one fixed packet size.
            if (maxSize == 0 || minSize != maxSize) return false;
            packetSize = maxSize;
            return true;
        }
        pos += size_t(size);
    }
    return false;
}

void AsfPacketizer::Reset() {
    pending_.clear();
    consumed_ = 0;
    headerDone_ = false;
    failed_ = false;
    packetSize_ = 0;
    dataLeft_ = 0;
    dataBounded_ = false;
}

bool AsfPacketizer::Feed(const uint8_t* data, size_t len) {
    if (failed_) return false;
    pending_.insert(pending_.end(), data, data + len);
    if (!headerDone_) {
        if (pending_.size() >= 16 && std::memcmp(pending_.data(), kHeaderObjectId, 16) != 0) {
            failed_ = true;
            return false;
        }
        if (pending_.size() < 24) return true;
        uint64_t headerSize = Le64(pending_.data() + 16);
        if (headerSize < 30 || headerSize > kMaxHeaderSize) {
            failed_ = true;
            return false;
        }
        if (pending_.size() < headerSize + kDataObjectHeaderSize) return true;
        uint64_t objSize;
        if (!ParseHeader(pending_.data(), size_t(headerSize), objSize, packetSize_)) {
            failed_ = true;
            return false;
        }
        // The data object's size counts its own 50 bytes; 0 or less means a
        // live stream of unknown length.
        uint64_t dataSize = Le64(pending_.data() + headerSize + 16);
        dataBounded_ = dataSize > kDataObjectHeaderSize;
        dataLeft_ = dataBounded_ ? dataSize - kDataObjectHeaderSize : 0;
        const size_t total = size_t(headerSize) + kDataObjectHeaderSize;
        Bytes header(pending_.begin(), pending_.begin() + long(total));
        consumed_ = total;
        headerDone_ = true;
        if (OnHeader) OnHeader(std::move(header), packetSize_);
    }
    while (pending_.size() - consumed_ >= packetSize_) {
        if (dataBounded_ && dataLeft_ < packetSize_) {
            // What follows the data object (an index) is not streamed.
            consumed_ = pending_.size();
            break;
        }
        Bytes packet(pending_.begin() + long(consumed_),
                     pending_.begin() + long(consumed_ + packetSize_));
        consumed_ += packetSize_;
        if (dataBounded_) dataLeft_ -= packetSize_;
        if (OnPacket) OnPacket(std::move(packet));
    }
    // Drop handed-out bytes in one go once they dominate, so feeding stays linear.
    if (consumed_ > 0 && consumed_ * 2 >= pending_.size()) {
        pending_.erase(pending_.begin(), pending_.begin() + long(consumed_));
        consumed_ = 0;
    }
    return true;
}
