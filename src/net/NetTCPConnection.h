#pragma once
// TNetTCPConnection: a socket as a buffered, blocking byte stream with line,
// byte-count, stream and integer reads and writes, optional write collection,
// read time-outs, a line-length limit and one way of reporting a peer's close
// (ENetConnClosedGracefully once a reader needs bytes that are not buffered;
// bytes already received stay readable).
//
// A connection belongs to one thread. The only call another thread may make is
// CloseConnectionSocket (a stopping server): the owner then sees a graceful
// close or a socket failure on its next call. handlerLock_ guards the handler
// reference against being freed during such a call.
#include "common/Stream.h"
#include "common/StringList.h"
#include "net/NetBuffer.h"
#include "net/NetComponent.h"
#include "net/NetIOHandlerSocket.h"
#include "net/NetIntercept.h"
#include "net/NetReply.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

enum class TNetMaxLineAction { maException, maSplit };

class TNetTCPConnection : public TNetComponent {
  public:
    using TDisconnectedEvent = std::function<void(TNetTCPConnection& sender)>;

    TNetTCPConnection();
    ~TNetTCPConnection() override;

    // --- properties ---
    bool ASCIIFilter = false;      // clear bit 7 of every received byte
    int32_t MaxLineLength = 16384; // 0 = no limit
    TNetMaxLineAction MaxLineAction = TNetMaxLineAction::maException;
    int32_t ReadTimeout = 0; // ms; 0 = wait without limit
    int32_t RecvBufferSize = 32768;
    int32_t SendBufferSize = 32768;
    TDisconnectedEvent OnDisconnected;

    TNetIOHandler* IOHandler() const noexcept { return handler_; }
    // A handler owned elsewhere (the caller clears it before freeing it)...
    void SetIOHandler(TNetIOHandler* handler);
    // ...or one the connection owns and frees on Disconnect.
    void SetIOHandler(std::unique_ptr<TNetIOHandler> handler);
    bool FreeIOHandlerOnDisconnect() const noexcept { return ownedHandler_ != nullptr; }

    const std::shared_ptr<TNetConnectionIntercept>& Intercept() const noexcept {
        return intercept_;
    }
    void SetIntercept(std::shared_ptr<TNetConnectionIntercept> intercept) {
        intercept_ = std::move(intercept);
    }

    bool ClosedGracefully() const noexcept { return closedGracefully_.load(); }
    TNetManagedBuffer& InputBuffer() noexcept { return inputBuffer_; }
    bool ReadLnSplit() const noexcept { return readLnSplit_; }
    bool ReadLnTimedOut() const noexcept { return readLnTimedOut_; }

    // --- state ---
    virtual void DoOnDisconnected();
    // Empties the input buffer and clears the closed-gracefully flag.
    virtual void ResetConnection();
    // Notices a peer's close (closing here, hsDisconnected, OnDisconnected) and
    // raises ENetConnClosedGracefully when asked and no buffered byte is left
    // (or the buffer is to be ignored).
    virtual void CheckConnectionState(bool raiseIfDisconnected = true, bool ignoreBuffer = false);
    virtual void CheckGracefulClose(bool raiseIfDisconnected = true);
    virtual bool IsConnected();
    virtual void Disconnect();
    // Safe from another thread than the owner's.
    virtual void CloseConnectionSocket();

    // Writes the reply when it has a code above 0 or a text.
    void SendReply(const TNetRFCReply& reply);

    // An absolute limit for every read from now on, on top of ReadTimeout:
    // reads past it raise ENetReadTimeout. 0 clears it.
    void SetReadDeadline(int32_t msFromNow);

    // --- reading ---
    // One receive into the input buffer (waiting up to timeoutMs; -1 = ReadTimeout,
    // itself 0 = no limit). Returns the byte count, 0 when the peer closed with
    // bytes still buffered, -1 on a time-out without raiseOnTimeout.
    virtual int32_t FillInputBuffer(bool raiseIfDisconnected = true, int32_t timeoutMs = -1,
                                    bool raiseOnTimeout = true);
    // terminator "" = LF (a CR before the LF is dropped too); timeoutMs -1 =
    // ReadTimeout and raise on expiry, otherwise an expiry returns "" with
    // ReadLnTimedOut(); maxLength -1 = MaxLineLength.
    virtual std::string ReadLine(std::string_view terminator = "\n", int32_t timeoutMs = -1,
                                 int32_t maxLength = -1);
    std::string ReadLineSkipEmpty(int tries);
    // Reads lines until one equals delimiter (not stored); returns the count.
    int ReadLinesUntil(TStringList& destination, std::string_view delimiter = "",
                       bool stripDots = false);
    int ReadLinesUntil(TStream& destination, std::string_view delimiter = "",
                       bool stripDots = false);
    int ReadLinesUntil(std::string_view delimiter = "", bool stripDots = false);
    void ReadExact(void* buffer, int64_t count);
    // count -1 without untilDisconnect: a 32-bit count in network order first.
    // A peer that closes before count bytes arrived raises ENetConnClosedGracefully.
    void ReadToStream(TStream& stream, int64_t count = -1, bool untilDisconnect = false);
    std::string ReadAvailable();
    // Most a stream is grown ahead of the bytes ReadToStream expects.
    static constexpr int64_t MaxStreamPreallocation = 1 << 20;

    // --- writing ---
    void WriteBytes(const void* buffer, int64_t count, bool writeNow = false);
    virtual void WriteText(std::string_view text);
    virtual void WriteLine(std::string_view text);
    void WriteInt32(int32_t value, bool toNetworkOrder = true);
    // size 0 = to the end of the stream.
    virtual void WriteFromStream(TStream& stream, bool fromStart = true,
                                 bool writeByteCount = false, int64_t size = 0);
    virtual int64_t WriteFileContents(const std::string& fileName, bool allowFileTransmit = true);

    // Write collection: writes gather in a buffer until FinishWriteBuffer, or
    // go out in pieces of threshold bytes when it is above 0.
    void StartWriteBuffer(int32_t threshold = 0);
    void FinishWriteBuffer();
    void SendWriteBuffer(int64_t count = -1);
    void DiscardWriteBuffer();
    bool WriteBufferOpen() const noexcept { return writeBuffer_ != nullptr; }

  private:
    template <class Store>
    int ReadLinesInto(Store store, std::string_view delimiter, bool stripDots);
    // Fills until count bytes are buffered (ReadExact's waiting part).
    void FillAtLeast(int64_t count);
    void ReleaseHandler(); // frees an owned handler

    // handlerLock_ guards handler_ and ownedHandler_ against a
    // concurrent CloseConnectionSocket; the owner thread reads them unlocked
    // (it is the only writer).
    std::mutex handlerLock_;
    TNetIOHandler* handler_ = nullptr;
    std::unique_ptr<TNetIOHandler> ownedHandler_;
    std::shared_ptr<TNetConnectionIntercept> intercept_;

    std::atomic<bool> closedGracefully_{false}; // also set by a closing thread
    TNetManagedBuffer inputBuffer_;
    std::unique_ptr<TNetSimpleBuffer> writeBuffer_;
    int32_t writeThreshold_ = 0;
    bool readLnSplit_ = false;
    bool readLnTimedOut_ = false;
    std::chrono::steady_clock::time_point readDeadline_{}; // epoch: none
};
