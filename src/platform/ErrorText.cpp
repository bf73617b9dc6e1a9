#include "platform/ErrorText.h"

#include "platform/RunningObjectTable.h"
#include "platform/Utf8.h"

#include <cstring>
#include <mutex>

namespace {
struct TCodeText {
    HRESULT code;
    const char* text;
};

constexpr TCodeText kTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation completed with a partial result."},
    {E_FAIL, "Unspecified error."},
    {E_NOTIMPL, "The operation is not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_ABORT, "The operation was aborted."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {E_OUTOFMEMORY, "Not enough memory to complete the operation."},
    {E_INVALIDARG, "One or more arguments are invalid."},
    {E_HANDLE, "The handle is invalid."},
    {E_ACCESSDENIED, "Access is denied."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation."},
    {CLASS_E_CLASSNOTAVAILABLE, "The class is not available."},
    {MK_E_UNAVAILABLE, "The operation is unavailable."},
    {MK_E_NOOBJECT, "The object named by the moniker could not be found."},
    {MK_S_MONIKERALREADYREGISTERED,
     "The moniker is already registered in the running object table."},
    {STG_E_READFAULT, "The stored object could not be read."},
    {STG_E_MEDIUMFULL, "There is not enough space on the disk."},
    {STG_E_INVALIDHEADER, "The stored object has an invalid header."},
    {VFW_E_INVALIDMEDIATYPE, "An invalid media type was specified."},
    {VFW_E_INVALIDSUBTYPE, "An invalid media subtype was specified."},
    {VFW_E_NEED_OWNER, "This object can only be created as an aggregated object."},
    {VFW_E_ENUM_OUT_OF_SYNC, "The state of the enumerated object has changed and is now "
                             "inconsistent with the state of the enumerator."},
    {VFW_E_ALREADY_CONNECTED,
     "At least one of the pins involved in the operation is already connected."},
    {VFW_E_FILTER_ACTIVE, "This operation cannot be performed because the filter is active."},
    {VFW_E_NO_TYPES, "One of the specified pins supports no media types."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected together."},
    {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not connected."},
    {VFW_E_NO_ALLOCATOR, "No sample buffer allocator is available."},
    {VFW_E_RUNTIME_ERROR, "A run-time error occurred."},
    {VFW_E_NO_CLOCK, "No reference clock has been defined."},
    {VFW_E_NO_SINK, "No sink has been defined for the stream."},
    {VFW_E_NO_INTERFACE, "The required interface has not been implemented."},
    {VFW_E_NOT_FOUND, "An object or name was not found."},
    {VFW_E_CANNOT_CONNECT,
     "No combination of intermediate filters could be found to make the connection."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
    {VFW_E_CHANGING_FORMAT, "Could not change formats dynamically."},
    {VFW_E_STATE_CHANGED, "The state changed while waiting to process the sample."},
    {VFW_E_NOT_STOPPED, "The operation could not be performed because the filter is not stopped."},
    {VFW_E_NOT_PAUSED, "The operation could not be performed because the filter is not paused."},
    {VFW_E_NOT_RUNNING, "The operation could not be performed because the filter is not running."},
    {VFW_E_WRONG_STATE,
     "The operation could not be performed because the filter is in the wrong state."},
    {VFW_E_TYPE_NOT_ACCEPTED, "The specified media type is not acceptable."},
    {VFW_E_DUPLICATE_NAME, "A filter with the same name is already in the graph."},
    {VFW_S_DUPLICATE_NAME,
     "A filter with the same name was already in the graph; a unique name was given."},
    {VFW_E_TIMEOUT, "The operation timed out."},
    {VFW_E_INVALID_FILE_FORMAT, "The file format is invalid."},
    {VFW_E_ENUM_OUT_OF_RANGE, "The enumerator has been exhausted."},
    {VFW_E_CIRCULAR_GRAPH, "The filter graph is circular."},
    {VFW_S_STATE_INTERMEDIATE, "The state transition has not completed."},
    {VFW_E_UNKNOWN_FILE_TYPE, "The media type of this file is not recognized."},
    {VFW_S_PARTIAL_RENDER, "Some of the streams in this movie are in an unsupported format."},
    {VFW_E_INVALID_CLSID, "The class id is invalid."},
    {VFW_E_INVALID_MEDIA_TYPE, "The media type is invalid."},
    {VFW_E_NO_DECOMPRESSOR, "No decompressor could be found for this stream."},
    {VFW_E_NO_AUDIO_HARDWARE, "No audio hardware is available."},
    {VFW_S_VIDEO_NOT_RENDERED, "The video stream could not be rendered."},
    {VFW_S_AUDIO_NOT_RENDERED, "The audio stream could not be rendered."},
    {VFW_E_UNSUPPORTED_AUDIO, "This audio format is not supported."},
    {VFW_E_UNSUPPORTED_VIDEO, "This video format is not supported."},
    {VFW_E_NOT_IN_GRAPH, "The filter is not in a filter graph."},
    {VFW_E_NO_TIME_FORMAT, "The time format is not supported."},
    {VFW_E_UNSUPPORTED_STREAM, "The stream format is not supported."},
    {VFW_E_NO_CAPTURE_HARDWARE, "No capture hardware is available."},
};

// Codes whose text is set where the failure happens.
struct TReportedText {
    HRESULT code;
    const char* fallback;
    std::string text; // guarded by reportedLock
};
std::mutex reportedLock;
TReportedText reported[] = {
    {E_MISSING_COMPONENT,
     "A media component is missing: reinstall the GStreamer plugin packages.",
     {}},
    {E_FORMAT_REFUSED, "The device cannot capture the chosen format.", {}},
    {E_DEVICE_GONE, "The chosen device is no longer connected.", {}},
};

void SetReported(HRESULT code, std::string text) {
    std::lock_guard<std::mutex> lock(reportedLock);
    for (auto& r : reported)
        if (r.code == code) r.text = std::move(text);
}
} // namespace

void SetMissingComponentText(std::string text) {
    SetReported(E_MISSING_COMPONENT, std::move(text));
}
void SetFormatRefusedText(std::string text) {
    SetReported(E_FORMAT_REFUSED, std::move(text));
}
void SetDeviceGoneText(std::string text) {
    SetReported(E_DEVICE_GONE, std::move(text));
}

std::string ErrorTextOf(HRESULT code) {
    for (const auto& r : reported)
        if (r.code == code) {
            std::lock_guard<std::mutex> lock(reportedLock);
            return r.text.empty() ? r.fallback : r.text;
        }
    for (const auto& t : kTexts)
        if (t.code == code) return t.text;
    return FAILED(code) ? "An unknown error occurred." : "The operation succeeded.";
}

DWORD AMGetErrorTextA(HRESULT code, char* buffer, DWORD maxLength) {
    if (!buffer || maxLength == 0) return 0;
    const std::string text = Utf8Truncate(ErrorTextOf(code), maxLength - 1);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return static_cast<DWORD>(text.size());
}
