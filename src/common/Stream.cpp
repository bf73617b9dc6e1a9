#include "common/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t TStream::Size() {
    const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const int64_t total = count;
    constexpr int64_t kChunk = 64 * 1024;
    std::vector<uint8_t> buf(static_cast<size_t>(std::min(count, kChunk)));
    while (count > 0) {
        const int64_t n = std::min(count, kChunk);
        source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        count -= n;
    }
    return total;
}

namespace {
// Common position arithmetic of the in-memory stores.
int64_t NewPosition(int64_t current, int64_t size, int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    switch (origin) {
    case TSeekOrigin::soBeginning:
        base = 0;
        break;
    case TSeekOrigin::soCurrent:
        base = current;
        break;
    case TSeekOrigin::soEnd:
        base = size;
        break;
    }
    const int64_t pos = base + offset;
    return pos < 0 ? 0 : pos;
}

// Reads from an in-memory store (a byte vector or a string) at position.
template <class Buffer>
int64_t ReadStore(const Buffer& data, int64_t& position, void* buffer, int64_t count) {
    const int64_t size = static_cast<int64_t>(data.size());
    if (count <= 0 || position >= size) return 0;
    const int64_t n = std::min(count, size - position);
    std::memcpy(buffer, data.data() + position, static_cast<size_t>(n));
    position += n;
    return n;
}

// Resizes an in-memory store; a position past the new end moves to the end.
template <class Buffer> void ResizeStore(Buffer& data, int64_t& position, int64_t newSize) {
    if (newSize < 0) newSize = 0;
    data.resize(static_cast<size_t>(newSize));
    if (position > newSize) position = newSize;
}
} // namespace

// --- TMemoryStream ---

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    return ReadStore(data_, position_, buffer, count);
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const int64_t end = position_ + count;
    if (end > Size()) {
        // Geometric growth keeps many small appends linear overall.
        if (static_cast<size_t>(end) > data_.capacity())
            data_.reserve(std::max(static_cast<size_t>(end), data_.capacity() * 2));
        data_.resize(static_cast<size_t>(end));
    }
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    position_ = NewPosition(position_, Size(), offset, origin);
    return position_;
}

void TMemoryStream::SetSize(int64_t newSize) {
    ResizeStore(data_, position_, newSize);
}

void TMemoryStream::Clear() {
    data_.clear();
    data_.shrink_to_fit();
    position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    source.SetPosition(0);
    const int64_t n = source.Size();
    SetSize(n);
    position_ = 0;
    source.ReadBuffer(data_.data(), n);
}

void TMemoryStream::SaveToStream(TStream& dest) {
    dest.WriteBuffer(data_.data(), Size());
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream f(fileName, fmCreate);
    SaveToStream(f);
}

// --- TStringStream ---

int64_t TStringStream::Read(void* buffer, int64_t count) {
    return ReadStore(data_, position_, buffer, count);
}

int64_t TStringStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const int64_t end = position_ + count;
    if (end > Size()) data_.resize(static_cast<size_t>(end));
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
    position_ = NewPosition(position_, Size(), offset, origin);
    return position_;
}

void TStringStream::SetSize(int64_t newSize) {
    ResizeStore(data_, position_, newSize);
}

std::string TStringStream::ReadString(int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || position_ >= size) return {};
    const int64_t n = std::min(count, size - position_);
    std::string out = data_.substr(static_cast<size_t>(position_), static_cast<size_t>(n));
    position_ += n;
    return out;
}

// --- TFileStream ---

TFileStream::TFileStream(const std::string& fileName, uint32_t mode) : fileName_(fileName) {
    if (mode == fmCreate || (mode & 0xFF00) == fmCreate) {
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
        return;
    }
    int flags = O_RDONLY;
    switch (mode & 0x3) {
    case fmOpenWrite:
        flags = O_WRONLY;
        break;
    case fmOpenReadWrite:
        flags = O_RDWR;
        break;
    default:
        break;
    }
    fd_ = ::open(fileName.c_str(), flags | O_CLOEXEC);
    if (fd_ < 0)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(EISDIR));
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        const ssize_t r = ::read(fd_, p + done, static_cast<size_t>(count - done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += r;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        const ssize_t r = ::write(fd_, p + done, static_cast<size_t>(count - done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += r;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = SEEK_SET;
    if (origin == TSeekOrigin::soCurrent)
        whence = SEEK_CUR;
    else if (origin == TSeekOrigin::soEnd)
        whence = SEEK_END;
    const off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (r < 0) throw EStreamError("Stream seek error: " + std::string(std::strerror(errno)));
    return r;
}

void TFileStream::SetSize(int64_t newSize) {
    const int64_t pos = Position();
    if (::ftruncate(fd_, static_cast<off_t>(newSize < 0 ? 0 : newSize)) != 0)
        throw EStreamError("Stream size error: " + std::string(std::strerror(errno)));
    if (pos > newSize) Seek(0, TSeekOrigin::soEnd);
}
