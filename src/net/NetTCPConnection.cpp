#include "net/NetTCPConnection.h"

#include "common/Text.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <sys/stat.h>

TNetTCPConnection::TNetTCPConnection() {
    // Read progress counts bytes handed to the caller, not bytes received.
    inputBuffer_.OnBytesRemoved = [this](TNetSimpleBuffer&, int64_t count) {
        DoWork(TWorkMode::wmRead, count);
    };
}

TNetTCPConnection::~TNetTCPConnection() {
    try {
        CloseConnectionSocket();
    } catch (...) {
        // nothing may leave a destructor
    }
    ReleaseHandler();
}

// --- handler ---

void TNetTCPConnection::SetIOHandler(TNetIOHandler* handler) {
    std::unique_ptr<TNetIOHandler> old;
    {
        std::lock_guard<std::mutex> lock(handlerLock_);
        if (ownedHandler_.get() != handler) old = std::move(ownedHandler_);
        handler_ = handler;
    }
}

void TNetTCPConnection::SetIOHandler(std::unique_ptr<TNetIOHandler> handler) {
    std::unique_ptr<TNetIOHandler> old;
    std::lock_guard<std::mutex> lock(handlerLock_);
    old = std::move(ownedHandler_);
    ownedHandler_ = std::move(handler);
    handler_ = ownedHandler_.get();
}

void TNetTCPConnection::ReleaseHandler() {
    std::unique_ptr<TNetIOHandler> old;
    std::lock_guard<std::mutex> lock(handlerLock_);
    if (!ownedHandler_) return;
    old = std::move(ownedHandler_);
    handler_ = nullptr;
}

// --- state ---

void TNetTCPConnection::DoOnDisconnected() {
    if (OnDisconnected) OnDisconnected(*this);
}

void TNetTCPConnection::ResetConnection() {
    inputBuffer_.Clear();
    closedGracefully_ = false;
    readLnSplit_ = false;
    readLnTimedOut_ = false;
}

void TNetTCPConnection::CheckConnectionState(bool raiseIfDisconnected, bool ignoreBuffer) {
    if (handler_ == nullptr) return;
    bool disconnected;
    if (closedGracefully_) {
        if (handler_->IsConnected()) {
            CloseConnectionSocket();
            DoStatus(TNetStatus::hsDisconnected);
            DoOnDisconnected();
        }
        disconnected = true;
    } else {
        disconnected = !handler_->IsConnected();
    }
    if (disconnected && raiseIfDisconnected && (inputBuffer_.Size() == 0 || ignoreBuffer))
        throw ENetConnClosedGracefully();
}

void TNetTCPConnection::CheckGracefulClose(bool raiseIfDisconnected) {
    FillInputBuffer(raiseIfDisconnected, 1, false);
}

bool TNetTCPConnection::IsConnected() {
    CheckConnectionState(false, false);
    return handler_ != nullptr && handler_->IsConnected();
}

void TNetTCPConnection::Disconnect() {
    const bool wasConnected = IsConnected();
    if (wasConnected) {
        DoStatus(TNetStatus::hsDisconnecting);
        CloseConnectionSocket();
    }
    ReleaseHandler();
    if (wasConnected) {
        DoOnDisconnected();
        DoStatus(TNetStatus::hsDisconnected);
    }
}

void TNetTCPConnection::CloseConnectionSocket() {
    std::lock_guard<std::mutex> lock(handlerLock_);
    if (handler_ == nullptr) return;
    closedGracefully_ = true;
    if (intercept_) intercept_->Disconnect();
    handler_->CloseHandler();
}

// --- replies ---

void TNetTCPConnection::SendReply(const TNetRFCReply& reply) {
    if (reply.NumericCode() > 0 || reply.Text().Count() > 0) WriteText(reply.FormattedReply());
}

void TNetTCPConnection::SetReadDeadline(int32_t msFromNow) {
    readDeadline_ = msFromNow > 0
                        ? std::chrono::steady_clock::now() + std::chrono::milliseconds(msFromNow)
                        : std::chrono::steady_clock::time_point{};
}

// --- reading ---

int32_t TNetTCPConnection::FillInputBuffer(bool raiseIfDisconnected, int32_t timeoutMs,
                                           bool raiseOnTimeout) {
    if (timeoutMs == -1) timeoutMs = ReadTimeout == 0 ? NetInfiniteTimeout : ReadTimeout;
    if (readDeadline_ != std::chrono::steady_clock::time_point{}) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              readDeadline_ - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            if (raiseOnTimeout) throw ENetReadTimeout();
            return -1;
        }
        const int32_t leftMs = static_cast<int32_t>(std::min<int64_t>(left, INT32_MAX));
        timeoutMs = timeoutMs == NetInfiniteTimeout ? leftMs : std::min(timeoutMs, leftMs);
    }
    CheckConnectionState(raiseIfDisconnected, false);
    if (!IsConnected()) {
        if (raiseIfDisconnected) throw ENetNotConnected();
        return 0;
    }
    TNetStack& stack = SocketStack();
    int32_t n = 0;
    do {
        // Without a time-limit the receive below blocks by itself; a select
        // first would only add a system call per block. A handle closed here
        // or under the receive still ends it (the close shuts it down).
        if (timeoutMs == NetInfiniteTimeout && handler_->ReceiveWaits()) {
            if (!handler_->IsConnected()) throw ENetConnClosedGracefully();
        } else if (!handler_->WaitReadable(timeoutMs)) {
            if (raiseOnTimeout) throw ENetReadTimeout();
            return -1;
        }
        const int32_t size = std::max<int32_t>(RecvBufferSize, 1);
        // The receive lands directly at the end of the input buffer.
        uint8_t* dest = inputBuffer_.PrepareAppend(size);
        n = handler_->ReceiveBytes(dest, size);
        closedGracefully_ = (n == 0);
        if (n == NetSocketError) {
            inputBuffer_.CommitAppend(0);
            const int32_t code = stack.LastSocketError();
            if (code != NetWSAESHUTDOWN && code != NetWSAECONNABORTED) stack.RaiseSocketError(code);
            CloseConnectionSocket();
            if (inputBuffer_.Size() == 0) stack.RaiseSocketError(code);
            n = 0; // the caller consumes what is buffered first
        } else if (n > 0) {
            if (intercept_) {
                TMemoryStream data;
                data.WriteBuffer(dest, n);
                inputBuffer_.CommitAppend(0);
                data.SetPosition(0);
                intercept_->Receive(data);
                n = static_cast<int32_t>(data.Size());
                dest = inputBuffer_.PrepareAppend(n);
                std::memcpy(dest, data.Memory(), static_cast<size_t>(n));
            }
            if (ASCIIFilter)
                for (int32_t i = 0; i < n; ++i)
                    dest[i] &= 0x7F;
            inputBuffer_.CommitAppend(n);
        } else {
            inputBuffer_.CommitAppend(0);
        }
        CheckConnectionState(raiseIfDisconnected, false);
    } while (n == 0 && IsConnected());
    return n;
}

std::string TNetTCPConnection::ReadLine(std::string_view terminator, int32_t timeoutMs,
                                        int32_t maxLength) {
    if (terminator.empty()) terminator = "\n";
    if (maxLength == -1) maxLength = MaxLineLength;
    readLnSplit_ = false;
    readLnTimedOut_ = false;
    const int64_t termLen = static_cast<int64_t>(terminator.size());
    int64_t scanned = 0; // bytes already searched
    int64_t found = 0;   // 1-based position of the terminator, 0 = none yet

    auto tooLong = [&]() -> std::string {
        if (MaxLineAction == TNetMaxLineAction::maException)
            throw ENetReadLnMaxLineLengthExceeded();
        readLnSplit_ = true;
        return inputBuffer_.Extract(maxLength);
    };

    for (;;) {
        const int64_t size = inputBuffer_.Size();
        if (size > 0 && found == 0) {
            // Back up so that a terminator split across two receives is seen.
            const int64_t from = std::max<int64_t>(0, scanned - (termLen - 1));
            const char* base = reinterpret_cast<const char*>(inputBuffer_.Memory());
            const char* hit = nullptr;
            if (termLen == 1) {
                hit = static_cast<const char*>(
                    std::memchr(base + from, terminator[0], size_t(size - from)));
            } else {
                const std::string_view hay(base + from, size_t(size - from));
                const size_t p = hay.find(terminator);
                if (p != std::string_view::npos) hit = base + from + p;
            }
            if (hit != nullptr) found = (hit - base) + 1;
            scanned = size;
        }
        if (maxLength != 0 && found > 0 && found - 1 > maxLength) return tooLong();
        if (found == 0) {
            if (maxLength != 0 && size > maxLength) return tooLong();
            CheckConnectionState(true, true);
            if (FillInputBuffer(true, timeoutMs, timeoutMs == -1) == -1) {
                readLnTimedOut_ = true;
                return std::string();
            }
            continue;
        }
        int64_t lineLen = found - 1;
        const char* base = reinterpret_cast<const char*>(inputBuffer_.Memory());
        if (terminator == "\n" && lineLen > 0 && base[lineLen - 1] == '\r') --lineLen;
        std::string line(base, static_cast<size_t>(lineLen));
        inputBuffer_.Remove(found - 1 + termLen);
        return line;
    }
}

std::string TNetTCPConnection::ReadLineSkipEmpty(int tries) {
    for (int i = 0; i < tries; ++i) {
        std::string line = Trim(ReadLine("\n", -1, -1));
        if (!line.empty()) return line;
    }
    return std::string();
}

template <class Store>
int TNetTCPConnection::ReadLinesInto(Store store, std::string_view delimiter, bool stripDots) {
    TNetWorkScope work(*this, TWorkMode::wmRead, 0);
    int count = 0;
    for (;;) {
        std::string line = ReadLine("\n", -1, -1);
        if (line == delimiter) return count;
        if (stripDots && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
        ++count;
        store(line);
    }
}

int TNetTCPConnection::ReadLinesUntil(TStringList& destination, std::string_view delimiter,
                                      bool stripDots) {
    return ReadLinesInto([&](std::string& line) { destination.Add(std::move(line)); }, delimiter,
                         stripDots);
}

int TNetTCPConnection::ReadLinesUntil(TStream& destination, std::string_view delimiter,
                                      bool stripDots) {
    return ReadLinesInto(
        [&](std::string& line) {
            line += "\r\n";
            destination.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
        },
        delimiter, stripDots);
}

int TNetTCPConnection::ReadLinesUntil(std::string_view delimiter, bool stripDots) {
    return ReadLinesInto([](std::string&) {}, delimiter, stripDots);
}

void TNetTCPConnection::FillAtLeast(int64_t count) {
    while (inputBuffer_.Size() < count) {
        FillInputBuffer(true, -1, true);
        CheckConnectionState(true, true);
    }
}

void TNetTCPConnection::ReadExact(void* buffer, int64_t count) {
    if (count <= 0 || buffer == nullptr) return;
    FillAtLeast(count);
    std::memcpy(buffer, inputBuffer_.Memory(), static_cast<size_t>(count));
    inputBuffer_.Remove(count);
}

void TNetTCPConnection::ReadToStream(TStream& stream, int64_t count, bool untilDisconnect) {
    if (count == -1 && !untilDisconnect) {
        uint32_t v = 0; // a 32-bit count in network order comes first
        ReadExact(&v, 4);
        count = static_cast<int32_t>(SocketStack().NetToHostLong(v));
    }
    if (count >= 0) {
        // Room ahead for the expected bytes, but never more than a block's
        // worth on the peer's word alone: a claimed 2 GB must not be allocated
        // before a single byte of it has arrived.
        const int64_t pos = stream.Position();
        const int64_t ahead = std::min<int64_t>(count, MaxStreamPreallocation);
        if (stream.Size() < pos + ahead) stream.SetSize(pos + ahead);
    }
    // Cut the stream at its position when done, on failures too.
    struct TCut {
        TStream& s;
        ~TCut() {
            try {
                const int64_t pos = s.Position();
                if (s.Size() > pos) s.SetSize(pos);
            } catch (...) {
            }
        }
    } cut{stream};
    TNetWorkScope work(*this, TWorkMode::wmRead, untilDisconnect ? 0 : count);

    int64_t remaining = untilDisconnect ? INT64_MAX : std::max<int64_t>(count, 0);
    auto take = [&](int64_t n) {
        stream.WriteBuffer(inputBuffer_.Memory(), n);
        inputBuffer_.Remove(n);
        remaining -= n;
    };
    take(std::min(inputBuffer_.Size(), remaining));

    const int64_t chunk = std::min<int64_t>(remaining, std::max<int32_t>(RecvBufferSize, 1));
    while (remaining > 0 && IsConnected()) {
        try {
            FillAtLeast(std::min(remaining, chunk));
        } catch (const ENetConnClosedGracefully&) {
            if (!untilDisconnect) throw;
            // until the close: whatever arrived before it is taken below
        }
        // Everything buffered (up to remaining) goes at once, which leaves the
        // input buffer empty rather than packing a remainder to its front.
        take(std::min(inputBuffer_.Size(), remaining));
    }
    // A peer gone before the announced count arrived must not pass for a
    // complete read.
    if (!untilDisconnect && remaining > 0) throw ENetConnClosedGracefully();
}

std::string TNetTCPConnection::ReadAvailable() {
    if (IsConnected()) FillInputBuffer(false, -1, true);
    return inputBuffer_.Extract(inputBuffer_.Size());
}

// --- writing ---

void TNetTCPConnection::WriteBytes(const void* buffer, int64_t count, bool writeNow) {
    if (count <= 0 || buffer == nullptr) return;
    CheckConnectionState(true, true); // also deals with a peer's close
    if (handler_ == nullptr || !handler_->IsConnected()) throw ENetNotConnected();

    if (!writeNow && writeBuffer_) {
        writeBuffer_->Append(buffer, count);
        if (writeThreshold_ > 0 && writeBuffer_->Size() >= writeThreshold_)
            SendWriteBuffer(writeThreshold_);
        return;
    }

    const uint8_t* data = static_cast<const uint8_t*>(buffer);
    TMemoryStream filtered;
    if (intercept_) {
        filtered.WriteBuffer(buffer, count);
        filtered.SetPosition(0);
        intercept_->Send(filtered);
        data = filtered.Memory();
        count = filtered.Size();
    }

    TNetStack& stack = SocketStack();
    int64_t pos = 0;
    while (pos < count) {
        const int32_t len = static_cast<int32_t>(std::min<int64_t>(count - pos, INT32_MAX));
        const int32_t sent = handler_->SendBytes(data + pos, len);
        closedGracefully_ = (sent == 0);
        const int32_t code = sent == NetSocketError ? stack.LastSocketError() : 0;
        CheckConnectionState(true, false);
        if (sent == NetSocketError) {
            if (code == NetWSAESHUTDOWN || code == NetWSAECONNABORTED || code == NetWSAECONNRESET)
                CloseConnectionSocket();
            stack.RaiseSocketError(code);
        }
        DoWork(TWorkMode::wmWrite, sent);
        pos += sent;
    }
}

void TNetTCPConnection::WriteText(std::string_view text) {
    if (!text.empty()) WriteBytes(text.data(), static_cast<int64_t>(text.size()));
}

void TNetTCPConnection::WriteLine(std::string_view text) {
    if (writeBuffer_) {
        // Collected: the same as writing text + CR LF, without building it first.
        CheckConnectionState(true, true);
        if (handler_ == nullptr || !handler_->IsConnected()) throw ENetNotConnected();
        const int64_t n = static_cast<int64_t>(text.size());
        uint8_t* d = writeBuffer_->PrepareAppend(n + 2);
        std::memcpy(d, text.data(), text.size());
        d[n] = '\r';
        d[n + 1] = '\n';
        writeBuffer_->CommitAppend(n + 2);
        if (writeThreshold_ > 0 && writeBuffer_->Size() >= writeThreshold_)
            SendWriteBuffer(writeThreshold_);
        return;
    }
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text);
    line.append("\r\n");
    WriteText(line);
}

void TNetTCPConnection::WriteInt32(int32_t value, bool toNetworkOrder) {
    uint32_t v = static_cast<uint32_t>(value);
    if (toNetworkOrder) v = SocketStack().HostToNetLong(v);
    WriteBytes(&v, 4);
}

void TNetTCPConnection::WriteFromStream(TStream& stream, bool fromStart, bool writeByteCount,
                                        int64_t size) {
    if (fromStart) stream.SetPosition(0);
    int64_t pos = stream.Position();
    const int64_t end = size != 0 ? pos + size : stream.Size();
    const int64_t length = end - pos;
    if (writeByteCount) WriteInt32(static_cast<int32_t>(length), true);
    TNetWorkScope work(*this, TWorkMode::wmWrite, length);
    const int64_t chunk = std::max<int32_t>(SendBufferSize, 1);
    auto scratch = std::make_unique_for_overwrite<uint8_t[]>(
        static_cast<size_t>(std::min(chunk, std::max<int64_t>(length, 1))));
    for (;;) {
        const int64_t n = std::min(end - pos, chunk);
        if (n <= 0) break;
        const int64_t got = stream.Read(scratch.get(), n);
        if (got <= 0) throw ENetNoDataToRead();
        WriteBytes(scratch.get(), got, false);
        pos += got;
    }
}

int64_t TNetTCPConnection::WriteFileContents(const std::string& fileName,
                                             bool /*allowFileTransmit*/) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) throw ENetFileNotFound(fileName);
    // No kernel file-transmit path: the file always goes out as a stream.
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    WriteFromStream(file, true, false, 0);
    return file.Size();
}

void TNetTCPConnection::StartWriteBuffer(int32_t threshold) {
    writeBuffer_ = std::make_unique<TNetSimpleBuffer>();
    writeThreshold_ = threshold;
}

void TNetTCPConnection::SendWriteBuffer(int64_t count) {
    if (!writeBuffer_ || writeBuffer_->Size() == 0) return;
    if (count != -1 && writeBuffer_->Size() >= count) {
        WriteBytes(writeBuffer_->Memory(), count, true);
        writeBuffer_->Remove(count);
    } else {
        WriteBytes(writeBuffer_->Memory(), writeBuffer_->Size(), true);
        writeBuffer_->Clear();
    }
}

void TNetTCPConnection::FinishWriteBuffer() {
    struct TFree {
        std::unique_ptr<TNetSimpleBuffer>& b;
        ~TFree() { b.reset(); }
    } release{writeBuffer_};
    SendWriteBuffer(-1);
}

void TNetTCPConnection::DiscardWriteBuffer() {
    if (writeBuffer_) writeBuffer_->Clear();
}
