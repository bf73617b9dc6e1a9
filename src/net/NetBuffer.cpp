#include "net/NetBuffer.h"

#include <algorithm>
#include <cstring>

void TNetSimpleBuffer::Grow(int64_t n) {
    const int64_t cap = std::max<int64_t>({n, capacity_ * 2, 4096});
    auto mem = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(cap));
    if (size_ > 0) std::memcpy(mem.get(), mem_.get(), static_cast<size_t>(size_));
    mem_ = std::move(mem);
    capacity_ = cap;
}

void TNetSimpleBuffer::DropFront(int64_t count) noexcept {
    if (count >= size_) {
        size_ = 0;
        return;
    }
    std::memmove(mem_.get(), mem_.get() + count, static_cast<size_t>(size_ - count));
    size_ -= count;
}

void TNetSimpleBuffer::SetSize(int64_t size) {
    size = std::max<int64_t>(size, 0);
    const int64_t total = size + (size_ - Size()); // keeps a read offset in front
    Reserve(total);
    if (total > size_) std::memset(mem_.get() + size_, 0, static_cast<size_t>(total - size_));
    size_ = total;
}

void TNetSimpleBuffer::Append(const void* data, int64_t count) {
    if (count <= 0) return;
    std::memcpy(PrepareAppend(count), data, static_cast<size_t>(count));
    CommitAppend(count);
}

void TNetSimpleBuffer::Remove(int64_t count) {
    if (count > Size()) throw ENetNotEnoughDataInBuffer();
    if (count <= 0) return;
    DropFront(count);
    if (OnBytesRemoved) OnBytesRemoved(*this, count);
}

std::string TNetSimpleBuffer::Extract(int64_t count) {
    if (count > Size()) throw ENetNotEnoughDataInBuffer();
    std::string s(reinterpret_cast<const char*>(Memory()),
                  static_cast<size_t>(std::max<int64_t>(count, 0)));
    Remove(count);
    return s;
}

void TNetManagedBuffer::Remove(int64_t count) {
    if (count > Size()) throw ENetNotEnoughDataInBuffer();
    if (count <= 0) return;
    if (count == Size()) {
        size_ = 0;
        offset_ = 0;
    } else {
        offset_ += count;
        if (offset_ >= PackThreshold) {
            DropFront(offset_);
            offset_ = 0;
        }
    }
    if (OnBytesRemoved) OnBytesRemoved(*this, count);
}
