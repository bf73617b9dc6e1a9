#pragma once
// What the capture is doing, each mode with its own data, and what the user
// is told about a mode: its name in messages, a failure that ended it, a
// file whose end was not confirmed.
#include "app/BroadcastSettings.h"
#include "common/Exception.h"

#include <string>
#include <variant>

// A mode that cannot start as asked (the recording file cannot be made, say).
class ECaptureError : public Exception {
  public:
    using Exception::Exception;
};

struct TStoppedMode {};
struct TPreviewMode {};
struct TBroadcastMode {
    TBroadcastPorts Served; // the ports actually bound
    std::string Archive;    // the running archive; empty: none
};
struct TRecordMode {
    std::string File; // as the start was given it
};
using TCaptureMode = std::variant<TStoppedMode, TPreviewMode, TBroadcastMode, TRecordMode>;

// A running mode failing after its start (a device lost, the disk full, the
// graph aborted): the cause and the user's next step.
struct TCaptureFailure {
    std::string Cause;
    std::string NextStep;
};

// The cause of a failure that lost a capture device.
inline constexpr const char* kDeviceLostCause = "Device lost";
// Whether recording to file would replace an existing file (a device such
// as /dev/null is not replaced).
bool WouldReplaceFile(const std::string& file);

// What runs, as a message names it ("the recording to "f.avi"", say); empty
// when idle.
std::string RunningModeText(const TCaptureMode& mode);
// "<cause>: the broadcast stopped; <next step>."
std::string FailureMessage(const TCaptureMode& mode, const TCaptureFailure& failure);
// After a stop of mode whose writer did not confirm the end of its file:
// which file to check; empty for a mode without a file.
std::string UnconfirmedEndMessage(const TCaptureMode& mode);
