#pragma once
// Byte buffers of a connection. TNetSimpleBuffer is a plain growable block;
// TNetManagedBuffer consumes from the front by moving a read offset and packs
// the rest to the front only once 32768 bytes have been consumed, so reading a
// stream of small lines costs no quadratic moving.
#include "net/NetException.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TNetSimpleBuffer {
  public:
    using TBytesRemovedEvent = std::function<void(TNetSimpleBuffer& buffer, int64_t count)>;

    virtual ~TNetSimpleBuffer() = default;

    virtual int64_t Size() const noexcept { return size_; }
    virtual uint8_t* Memory() noexcept { return mem_.get(); }
    virtual const uint8_t* Memory() const noexcept { return mem_.get(); }
    virtual void Clear() noexcept { size_ = 0; }
    // Grows (zero-filled) or cuts the visible bytes.
    virtual void SetSize(int64_t size);

    void Append(const void* data, int64_t count);
    // Room for count bytes at the end, committed with CommitAppend(n <= count):
    // lets a receive land directly in the buffer.
    uint8_t* PrepareAppend(int64_t count) {
        Reserve(size_ + (count > 0 ? count : 0));
        pending_ = size_;
        return mem_.get() + size_;
    }
    void CommitAppend(int64_t count) {
        if (pending_ < 0) return;
        const int64_t room = capacity_ - pending_;
        size_ = pending_ + (count < 0 ? 0 : count > room ? room : count);
        pending_ = -1;
    }

    // Removing more than Size() raises ENetNotEnoughDataInBuffer "Not enough
    // data in buffer.". Raises OnBytesRemoved afterwards.
    virtual void Remove(int64_t count);
    // The first count bytes as text, then Remove(count).
    std::string Extract(int64_t count);

    TBytesRemovedEvent OnBytesRemoved;

  protected:
    // Room for at least n stored bytes; growth is geometric so appends stay linear.
    void Reserve(int64_t n) {
        if (n > capacity_) Grow(n);
    }
    void Grow(int64_t n);
    // Drops the first count stored bytes, moving the rest to the front.
    void DropFront(int64_t count) noexcept;

    std::unique_ptr<uint8_t[]> mem_;
    int64_t size_ = 0; // stored bytes (the managed buffer's offset included)
    int64_t capacity_ = 0;
    int64_t pending_ = -1; // start of an uncommitted PrepareAppend, -1 when none
};

class TNetManagedBuffer : public TNetSimpleBuffer {
  public:
    static constexpr int64_t PackThreshold = 32768;

    int64_t Size() const noexcept override { return size_ - offset_; }
    uint8_t* Memory() noexcept override { return mem_.get() + offset_; }
    const uint8_t* Memory() const noexcept override { return mem_.get() + offset_; }
    void Clear() noexcept override {
        size_ = 0;
        offset_ = 0;
    }
    void Remove(int64_t count) override;

  private:
    int64_t offset_ = 0;
};
