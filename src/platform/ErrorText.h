#pragma once
// Texts of result codes: every code the platform produces has one of our own,
// and a failure never gets an empty text.
#include "platform/MediaResults.h"
#include "platform/Unknown.h"

#include "common/Exception.h"

#include <string>

// Copies the code's text, zero-terminated and cut to fit (without splitting
// a UTF-8 character), into buffer; returns the number of bytes copied without
// the terminator (0 only for a null buffer or maxLength 0).
DWORD AMGetErrorTextA(HRESULT code, char* buffer, DWORD maxLength);
// The whole text.
std::string ErrorTextOf(HRESULT code);

// The text of E_MISSING_COMPONENT: the last missing component reported.
// Thread-safe; the latest report wins.
void SetMissingComponentText(std::string text);
// The texts of E_FORMAT_REFUSED and E_DEVICE_GONE, alike.
void SetFormatRefusedText(std::string text);
void SetDeviceGoneText(std::string text);

// A failure with its result code, thrown where no result can be returned (a
// constructor run by a class factory, which turns it back into the code).
class EMediaResult : public Exception {
  public:
    EMediaResult(HRESULT code, std::string message) : Exception(std::move(message)), code_(code) {}
    HRESULT Code() const { return code_; }

  private:
    HRESULT code_;
};
