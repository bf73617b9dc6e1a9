#pragma once
// Result codes of the media platform (the graph's VFW_* codes). Texts for
// them: ErrorText.h.
#include "common/ResultCode.h"

inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeResult(0x80040200);
inline constexpr HRESULT VFW_E_INVALIDSUBTYPE = MakeResult(0x80040201);
inline constexpr HRESULT VFW_E_NEED_OWNER = MakeResult(0x80040202);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeResult(0x80040203);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeResult(0x80040204);
inline constexpr HRESULT VFW_E_FILTER_ACTIVE = MakeResult(0x80040205);
inline constexpr HRESULT VFW_E_NO_TYPES = MakeResult(0x80040206);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeResult(0x80040207);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeResult(0x80040208);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = MakeResult(0x80040209);
inline constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeResult(0x8004020A);
inline constexpr HRESULT VFW_E_RUNTIME_ERROR = MakeResult(0x8004020B);
inline constexpr HRESULT VFW_E_NO_CLOCK = MakeResult(0x80040213);
inline constexpr HRESULT VFW_E_NO_SINK = MakeResult(0x80040214);
inline constexpr HRESULT VFW_E_NO_INTERFACE = MakeResult(0x80040215);
inline constexpr HRESULT VFW_E_NOT_FOUND = MakeResult(0x80040216);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeResult(0x80040217);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = MakeResult(0x80040218);
inline constexpr HRESULT VFW_E_CHANGING_FORMAT = MakeResult(0x80040219);
inline constexpr HRESULT VFW_E_STATE_CHANGED = MakeResult(0x80040223);
inline constexpr HRESULT VFW_E_NOT_STOPPED = MakeResult(0x80040224);
inline constexpr HRESULT VFW_E_NOT_PAUSED = MakeResult(0x80040225);
inline constexpr HRESULT VFW_E_NOT_RUNNING = MakeResult(0x80040226);
inline constexpr HRESULT VFW_E_WRONG_STATE = MakeResult(0x80040227);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeResult(0x8004022A);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeResult(0x8004022D);
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = MakeResult(0x0004022D);
inline constexpr HRESULT VFW_E_TIMEOUT = MakeResult(0x8004022E);
inline constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MakeResult(0x8004022F);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_RANGE = MakeResult(0x80040230);
inline constexpr HRESULT VFW_E_CIRCULAR_GRAPH = MakeResult(0x80040231);
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeResult(0x00040237);
inline constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = MakeResult(0x80040240);
inline constexpr HRESULT VFW_S_PARTIAL_RENDER = MakeResult(0x00040242);
inline constexpr HRESULT VFW_E_INVALID_CLSID = MakeResult(0x80040247);
inline constexpr HRESULT VFW_E_INVALID_MEDIA_TYPE = MakeResult(0x80040248);
inline constexpr HRESULT VFW_E_NO_DECOMPRESSOR = MakeResult(0x80040255);
inline constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = MakeResult(0x80040256);
inline constexpr HRESULT VFW_S_VIDEO_NOT_RENDERED = MakeResult(0x00040257);
inline constexpr HRESULT VFW_S_AUDIO_NOT_RENDERED = MakeResult(0x00040258);
inline constexpr HRESULT VFW_E_UNSUPPORTED_AUDIO = MakeResult(0x8004025C);
inline constexpr HRESULT VFW_E_UNSUPPORTED_VIDEO = MakeResult(0x8004025D);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeResult(0x8004025F);
inline constexpr HRESULT VFW_E_NO_TIME_FORMAT = MakeResult(0x80040261);
inline constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MakeResult(0x80040265);
inline constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = MakeResult(0x80040275);

// A media library component (a GStreamer element) is not installed; its text
// names the component and the package that provides it.
inline constexpr HRESULT E_MISSING_COMPONENT = MakeResult(0x8004FF01);
// A device refused a capture format; its text names the device and the format.
inline constexpr HRESULT E_FORMAT_REFUSED = MakeResult(0x8004FF02);
// A chosen device is no longer connected (or another one took its place);
// its text names the device.
inline constexpr HRESULT E_DEVICE_GONE = MakeResult(0x8004FF03);
