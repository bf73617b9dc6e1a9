#pragma once
// A small byte-stream family used by the network and HTTP layers: one abstract
// TStream with a position, and three stores behind it (memory, std::string,
// POSIX file). Sizes and positions are 64-bit byte counts.
#include "common/Exception.h"

#include <cstdint>
#include <string>
#include <vector>

class EStreamError : public Exception {
  public:
    using Exception::Exception;
};
class EReadError : public EStreamError {
  public:
    EReadError() : EStreamError("Stream read error") {}
};
class EWriteError : public EStreamError {
  public:
    EWriteError() : EStreamError("Stream write error") {}
};
class EFOpenError : public EStreamError {
  public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
  public:
    using EStreamError::EStreamError;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
  public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Reads/writes up to count bytes at the position and moves it; returns the
    // number of bytes moved (0 at the end of the data). Negative counts move nothing.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position. Stores clamp a negative result to 0 or raise.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    virtual int64_t Size();
    // Grows (zero-filled) or cuts the store; the position is kept unless it
    // lies past the new end, where it moves to the end.
    virtual void SetSize(int64_t newSize) = 0;

    // All-or-nothing forms: raise EReadError / EWriteError on a short transfer.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);

    // Copies count bytes from source's current position; count 0 copies the
    // whole source from its start. Returns the byte count; raises EReadError
    // when the source ends early.
    int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
  public:
    TMemoryStream() = default;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;

    // Start of the bytes (valid until the next size change).
    uint8_t* Memory() noexcept { return data_.data(); }
    const uint8_t* Memory() const noexcept { return data_.data(); }
    void Clear();
    void LoadFromStream(TStream& source); // replaces the content with source's whole content
    void SaveToStream(TStream& dest);     // writes the whole content at dest's position
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

  private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

// Holds its bytes in a std::string; a write past the end appends.
class TStringStream : public TStream {
  public:
    explicit TStringStream(std::string data = {}) : data_(std::move(data)) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;

    const std::string& DataString() const noexcept { return data_; }
    // Up to count bytes from the position (fewer at the end).
    std::string ReadString(int64_t count);
    void WriteString(const std::string& s) { Write(s.data(), static_cast<int64_t>(s.size())); }

  private:
    std::string data_;
    int64_t position_ = 0;
};

// Open modes; the share modes are accepted for the callers' sake but POSIX
// files have no sharing locks, so they change nothing.
enum : uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00, // create or truncate, open for reading and writing
};

class TFileStream : public TStream {
  public:
    // Raises EFCreateError "Cannot create file "<name>". <reason>" or
    // EFOpenError "Cannot open file "<name>". <reason>".
    TFileStream(const std::string& fileName, uint32_t mode);
    ~TFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;

    const std::string& FileName() const noexcept { return fileName_; }
    int Handle() const noexcept { return fd_; }

  private:
    std::string fileName_;
    int fd_ = -1;
};
