#pragma once
// Texts of result codes: every code the platform produces has one of our own,
// and a failure never gets an empty text.
#include "platform/MediaResults.h"
#include "platform/Unknown.h"

#include <string>

// Copies the code's text, zero-terminated and cut to fit (without splitting
// a UTF-8 character), into buffer; returns the number of bytes copied without
// the terminator (0 only for a null buffer or maxLength 0).
DWORD AMGetErrorTextA(HRESULT code, char* buffer, DWORD maxLength);
// The whole text.
std::string ErrorTextOf(HRESULT code);
