#include "media/MediaErrors.h"

#include "common/Replaceable.h"
#include "common/Text.h"
#include "platform/ErrorText.h"

#include <cstdio>

EListError::EListError(int index)
    : Exception(Format("List index out of bounds (%d)", index)), index_(index) {}

std::string MediaErrorText(HRESULT code) {
    char buffer[255];
    const DWORD n = AMGetErrorTextA(code, buffer, sizeof buffer);
    return std::string(buffer, n);
}

HRESULT CheckMediaResult(HRESULT code) {
    if (FAILED(code))
        throw EDirectShowException(
            MediaErrorText(code) + Format(" ($%X).", static_cast<uint32_t>(code)), code);
    return code;
}

namespace {
TReplaceable<TMediaExceptionHandler> handler;
} // namespace

void SetMediaExceptionHandler(TMediaExceptionHandler h) {
    handler.Set(std::move(h));
}

void HandleMediaException(const std::exception& e) {
    const TMediaExceptionHandler h = handler.Get();
    if (h)
        h(e);
    else
        std::fprintf(stderr, "%s\n", e.what());
}
