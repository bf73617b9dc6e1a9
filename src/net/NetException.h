#pragma once
// The network library's exception family, rooted at ENetException. Message
// texts are the library's fixed texts; the raising code formats them.
#include "common/Exception.h"

#include <cstdint>
#include <string>

class ENetException : public Exception {
  public:
    using Exception::Exception;
};

// Silent exceptions report an expected end (a peer closing) rather than a fault.
class ENetSilentException : public ENetException {
  public:
    using ENetException::ENetException;
};

class ENetConnClosedGracefully : public ENetSilentException {
  public:
    ENetConnClosedGracefully() : ENetSilentException("Connection Closed Gracefully.") {}
};

// --- socket stack ---
class ENetSocketError : public ENetException {
  public:
    ENetSocketError(int32_t lastError, std::string message)
        : ENetException(std::move(message)), lastError_(lastError) {}
    int32_t LastError() const noexcept { return lastError_; }

  private:
    int32_t lastError_;
};

class ENetInvalidSocket : public ENetException {
  public:
    ENetInvalidSocket() : ENetException("Cannot allocate socket.") {}
};

class ENetInvalidServiceName : public ENetException {
  public:
    explicit ENetInvalidServiceName(const std::string& name)
        : ENetException(name + " is not a valid service.") {}
};

class ENetStackError : public ENetException {
  public:
    using ENetException::ENetException;
};

class ENetStackInitializationFailed : public ENetStackError {
  public:
    ENetStackInitializationFailed() : ENetStackError("Winsock Initialization Error.") {}
};

class ENetStackSetSizeExceeded : public ENetStackError {
  public:
    ENetStackSetSizeExceeded() : ENetStackError("Set Size Exceeded.") {}
};

class ENetInvalidIPAddress : public ENetStackError {
  public:
    explicit ENetInvalidIPAddress(const std::string& ip)
        : ENetStackError(ip + " is not a valid IP address.") {}
};

// Failure to reach a C library socket function by name (load or lookup).
class ENetWS2StubError : public ENetException {
  public:
    ENetWS2StubError(int32_t win32Error, std::string win32ErrorMessage, std::string title)
        : ENetException(win32Error != 0 ? win32ErrorMessage + ": " + title : title),
          win32Error_(win32Error), win32ErrorMessage_(std::move(win32ErrorMessage)),
          title_(std::move(title)) {}
    int32_t Win32Error() const noexcept { return win32Error_; }
    const std::string& Win32ErrorMessage() const noexcept { return win32ErrorMessage_; }
    const std::string& Title() const noexcept { return title_; }

  private:
    int32_t win32Error_;
    std::string win32ErrorMessage_;
    std::string title_;
};

// --- socket handles and bindings ---
class ENetSocketHandleError : public ENetException {
  public:
    using ENetException::ENetException;
};

class ENetCouldNotBindSocket : public ENetSocketHandleError {
  public:
    ENetCouldNotBindSocket()
        : ENetSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};

class ENetInvalidPortRange : public ENetSocketHandleError {
  public:
    ENetInvalidPortRange(int32_t min, int32_t max)
        : ENetSocketHandleError("Invalid Port Range (" + std::to_string(min) + " - " +
                                std::to_string(max) + ")") {}
};

class ENetCanNotBindPortInRange : public ENetSocketHandleError {
  public:
    ENetCanNotBindPortInRange(int32_t min, int32_t max)
        : ENetSocketHandleError("Can not bind in port range (" + std::to_string(min) + " - " +
                                std::to_string(max) + ")") {}
};

// --- connection input and output ---
class ENetClosedSocket : public ENetException {
  public:
    ENetClosedSocket() : ENetException("Disconnected.") {}
};

class ENetReadTimeout : public ENetException {
  public:
    ENetReadTimeout() : ENetException("Read Timeout") {}
};

class ENetReadLnMaxLineLengthExceeded : public ENetException {
  public:
    ENetReadLnMaxLineLengthExceeded() : ENetException("Max line length exceeded.") {}
};

class ENetTCPConnectionError : public ENetException {
  public:
    using ENetException::ENetException;
};

class ENetNotConnected : public ENetTCPConnectionError {
  public:
    ENetNotConnected() : ENetTCPConnectionError("Not Connected") {}
};

class ENetNotEnoughDataInBuffer : public ENetTCPConnectionError {
  public:
    ENetNotEnoughDataInBuffer() : ENetTCPConnectionError("Not enough data in buffer.") {}
};

class ENetNoDataToRead : public ENetTCPConnectionError {
  public:
    ENetNoDataToRead() : ENetTCPConnectionError("No data to read.") {}
};

class ENetObjectTypeNotSupported : public ENetTCPConnectionError {
  public:
    ENetObjectTypeNotSupported() : ENetTCPConnectionError("Object type not supported.") {}
};

class ENetFileNotFound : public ENetTCPConnectionError {
  public:
    explicit ENetFileNotFound(const std::string& name)
        : ENetTCPConnectionError("File \"" + name + "\" not found") {}
};

class ENetProtocolReplyError : public ENetException {
  public:
    ENetProtocolReplyError(int32_t replyErrorCode, std::string text)
        : ENetException(std::move(text)), replyErrorCode_(replyErrorCode) {}
    int32_t ReplyErrorCode() const noexcept { return replyErrorCode_; }

  private:
    int32_t replyErrorCode_;
};

class ENetConnectTimeout : public ENetException {
  public:
    ENetConnectTimeout() : ENetException("Connect timed out.") {}
};

class ENetConnectException : public ENetException {
  public:
    using ENetException::ENetException;
};

// --- thread base ---
class ENetThreadException : public ENetException {
  public:
    using ENetException::ENetException;
};

class ENetThreadTerminateAndWaitFor : public ENetThreadException {
  public:
    ENetThreadTerminateAndWaitFor()
        : ENetThreadException("Cannot call TerminateAndWaitFor on FreeAndTerminate threads") {}
};

// --- internet text helpers ---
class ENetFailedToRetreiveTimeZoneInfo : public ENetException {
  public:
    ENetFailedToRetreiveTimeZoneInfo()
        : ENetException("Failed attempting to retrieve time zone information.") {}
};
