#include "media/PersistentMemory.h"

#include "common/Stream.h"

#include <algorithm>

void TPersistentMemory::SetDataLength(uint32_t n) {
    data_.assign(n, 0);
}

bool TPersistentMemory::Equals(const TPersistentMemory& other) const {
    return !data_.empty() && data_.size() == other.data_.size() &&
           std::equal(data_.begin(), data_.end(), other.data_.begin());
}

bool TPersistentMemory::ShouldWriteData(const TPersistentMemory* ancestor) const {
    return ancestor == nullptr || !Equals(*ancestor);
}

void TPersistentMemory::WriteData(TStream& stream) const {
    const uint32_t n = DataLength();
    const uint8_t header[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
    stream.WriteBuffer(header, 4);
    if (n) stream.WriteBuffer(data_.data(), n);
}

bool TPersistentMemory::ReadData(TStream& stream) {
    data_.clear();
    uint8_t header[4];
    if (stream.Read(header, 4) != 4) {
        stream.Seek(0, TSeekOrigin::soEnd);
        return false;
    }
    const uint32_t n = static_cast<uint32_t>(header[0]) | (static_cast<uint32_t>(header[1]) << 8) |
                       (static_cast<uint32_t>(header[2]) << 16) |
                       (static_cast<uint32_t>(header[3]) << 24);
    // Checked before allocating: a damaged length never allocates or reads past the data.
    if (static_cast<int64_t>(n) > stream.Size() - stream.Position()) {
        stream.Seek(0, TSeekOrigin::soEnd);
        return false;
    }
    data_.resize(n);
    if (n) stream.ReadBuffer(data_.data(), n);
    return true;
}
