#pragma once
// TPersistentMemory: a byte block stored in the form description as the
// binary property "data" (32-bit little-endian length, then the bytes).
#include <cstdint>
#include <span>
#include <vector>

class TStream;

class TPersistentMemory {
  public:
    TPersistentMemory() = default;
    virtual ~TPersistentMemory() = default;
    TPersistentMemory(const TPersistentMemory&) = default;
    TPersistentMemory& operator=(const TPersistentMemory&) = default;

    uint32_t DataLength() const noexcept { return static_cast<uint32_t>(data_.size()); }
    uint8_t* Data() noexcept { return data_.data(); }
    const uint8_t* Data() const noexcept { return data_.data(); }
    std::span<const uint8_t> Bytes() const noexcept { return data_; }
    // Drops the old block; n zero bytes (0: empty).
    void SetDataLength(uint32_t n);
    void SetData(std::span<const uint8_t> bytes) { data_.assign(bytes.begin(), bytes.end()); }
    void Assign(const TPersistentMemory& other) { data_ = other.data_; }

    // Equal when both blocks are non-empty, of the same length and bytes.
    bool Equals(const TPersistentMemory& other) const;
    // The property is written always, except against an inherited description
    // (ancestor given), where only a block that differs from it is written.
    bool ShouldWriteData(const TPersistentMemory* ancestor) const;

    void WriteData(TStream& stream) const;
    // A stored length that runs past the end of the stream is damage: the
    // block is left empty and the stream is moved to its end. Returns false then.
    bool ReadData(TStream& stream);

  private:
    std::vector<uint8_t> data_;
};
