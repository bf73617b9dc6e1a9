#pragma once
// Media type records built from GStreamer caps and back, and the expansion of
// a device's caps (lists, ranges) into the discrete formats a user can pick.
#include "platform/MediaTypes.h"
#include "platform/gst/GstUtil.h"

#include <string>
#include <vector>

// One fixed caps per offered format, in the caps' order, without duplicates:
// every size with every rate it has, fastest first, each rate the exact
// fraction the device gives. Only formats that have a media type record are
// kept (raw pictures with a four-character code, MJPEG, H.264; PCM and float
// sound); the others are not listed.
std::vector<TGstCapsRef> ExpandCaps(const GstCaps* caps);

// Fills mt (whose old contents are not released) from fixed caps; false when
// the caps have no record form.
bool MediaTypeFromCaps(const GstCaps* caps, AM_MEDIA_TYPE& mt);
// The caps a record stands for; null when the record cannot be read.
TGstCapsRef CapsFromMediaType(const AM_MEDIA_TYPE& mt);

// "video", "audio" or "" for the first structure's media class.
const char* CapsMediaClass(const GstCaps* caps);

// The listed caps a record was made from (so that a rate such as 15/2 or
// 10000000/333333 comes back exactly), else the caps the record stands for.
TGstCapsRef MatchListedCaps(const AM_MEDIA_TYPE& mt, const std::vector<TGstCapsRef>& listed);
// The format captured before the user picks one: for pictures 25 fps or more
// (else the fastest), then the size nearest 640 x 480, then uncompressed; for
// sound 48,000 Hz, stereo, S16. Null for an empty list.
TGstCapsRef ChooseDefaultFormat(const std::vector<TGstCapsRef>& formats);
// "YUY2 1280×720 at 15/2 fps"-style text of fixed caps for messages
// ("MJPG 1280×720 at 30 fps", "S16LE 48000 Hz, 2 channels").
std::string FormatSummary(const GstCaps* caps);
// A frame rate as a user reads it: "30", "7.5", "29.97".
std::string RateText(int num, int den);
// The elements that decode a compressed picture of these caps, in order
// (empty for raw video and sound).
const std::vector<const char*>& DecoderFor(const GstCaps* caps);
