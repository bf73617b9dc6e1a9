// What the user is told about each mode: its name in a failure, and which
// file to check when a writer did not confirm its end.
#include "app/CaptureMode.h"

#include <gtest/gtest.h>

namespace {

TEST(CaptureMode, EachModeIsNamedWithItsOwnData) {
    const TCaptureFailure lost{"Device lost", "reconnect it and start again"};
    EXPECT_EQ(FailureMessage(TPreviewMode{}, lost),
              "Device lost: the preview stopped; reconnect it and start again.");
    EXPECT_EQ(FailureMessage(TBroadcastMode{{8000, 8081}, {}}, lost),
              "Device lost: the broadcast stopped; reconnect it and start again.");
    EXPECT_EQ(FailureMessage(TRecordMode{"/tmp/a b.avi"}, lost),
              "Device lost: the recording to \"/tmp/a b.avi\" stopped; reconnect it and start "
              "again.");
    EXPECT_EQ(RunningModeText(TStoppedMode{}), "");
}

TEST(CaptureMode, AnUnconfirmedEndNamesTheModesFile) {
    EXPECT_EQ(UnconfirmedEndMessage(TRecordMode{"take.avi"}),
              "\"take.avi\" may be incomplete: its end was not confirmed in time.");
    EXPECT_EQ(UnconfirmedEndMessage(TBroadcastMode{{}, "arch/brim.asf"}),
              "\"arch/brim.asf\" may be incomplete: its end was not confirmed in time.");
    EXPECT_EQ(UnconfirmedEndMessage(TBroadcastMode{}), ""); // no archive
    EXPECT_EQ(UnconfirmedEndMessage(TPreviewMode{}), "");
    EXPECT_EQ(UnconfirmedEndMessage(TStoppedMode{}), "");
}

} // namespace
