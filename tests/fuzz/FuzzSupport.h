#pragma once
// Shared pieces of the fuzz targets: a connection transport that plays back
// the fuzzer's bytes, and the entry point every target defines.
#include "net/NetIOHandlerSocket.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// Receives the given bytes in pieces of at most 7, then the peer's close;
// whatever is sent is dropped.
class TMemoryIOHandler : public TNetIOHandler {
  public:
    TMemoryIOHandler(const uint8_t* data, size_t size) : data_(data, data + size) {}
    bool IsConnected() override { return open_; }
    void CloseHandler() override { open_ = false; }
    bool WaitReadable(int32_t) override { return true; }
    int32_t ReceiveBytes(void* buffer, int32_t length) override {
        if (!open_) throw ENetClosedSocket();
        const size_t n = std::min<size_t>({size_t(length), data_.size() - pos_, size_t(7)});
        if (n == 0) return 0;
        std::memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        return int32_t(n);
    }
    int32_t SendBytes(const void*, int32_t length) override {
        if (!open_) throw ENetClosedSocket();
        return length;
    }

  private:
    std::vector<uint8_t> data_;
    size_t pos_ = 0;
    bool open_ = true;
};

} // namespace fuzz
