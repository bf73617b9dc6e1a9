#pragma once
// The media layer's exceptions and the shared result check.
#include "common/Exception.h"
#include "common/ResultCode.h"

#include <exception>
#include <functional>
#include <string>

// A failed platform call: the platform's text plus " ($<code>).", and the code.
class EDirectShowException : public Exception {
  public:
    EDirectShowException(std::string message, HRESULT code)
        : Exception(std::move(message)), errorCode_(code) {}
    HRESULT ErrorCode() const noexcept { return errorCode_; }

  private:
    HRESULT errorCode_;
};

// Misuse of a media component's options.
class EMediaComponentException : public Exception {
  public:
    EMediaComponentException(std::string message, HRESULT code = 0)
        : Exception(std::move(message)), errorCode_(code) {}
    HRESULT ErrorCode() const noexcept { return errorCode_; }

  private:
    HRESULT errorCode_;
};

// An index outside a list: "List index out of bounds (<index>)".
class EListError : public Exception {
  public:
    explicit EListError(int index);
    int Index() const noexcept { return index_; }

  private:
    int index_;
};

// A guard against programming errors ("IPin not assigned").
class EAssertionFailed : public Exception {
  public:
    using Exception::Exception;
};

// The platform's text for a code (at most 254 bytes, cut on a character boundary).
std::string MediaErrorText(HRESULT code);
// Returns a code that is not a failure unchanged; raises EDirectShowException
// for a failure.
HRESULT CheckMediaResult(HRESULT code);

// Where an exception raised while a graph event is dispatched goes (the
// application's global handler). Without one it is written to stderr.
using TMediaExceptionHandler = std::function<void(const std::exception&)>;
void SetMediaExceptionHandler(TMediaExceptionHandler handler);
void HandleMediaException(const std::exception& e);
