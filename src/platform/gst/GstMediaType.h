#pragma once
// Media type records built from GStreamer caps and back, and the expansion of
// a device's caps (lists, ranges) into the discrete formats a user can pick.
#include "platform/MediaTypes.h"
#include "platform/gst/GstUtil.h"

#include <vector>

// One fixed caps per offered format, in the caps' order, without duplicates.
// Only formats that have a media type record are kept.
std::vector<TGstCapsRef> ExpandCaps(const GstCaps* caps);

// Fills mt (whose old contents are not released) from fixed caps; false when
// the caps have no record form.
bool MediaTypeFromCaps(const GstCaps* caps, AM_MEDIA_TYPE& mt);
// The caps a record stands for; null when the record cannot be read.
TGstCapsRef CapsFromMediaType(const AM_MEDIA_TYPE& mt);

// "video", "audio" or "" for the first structure's media class.
const char* CapsMediaClass(const GstCaps* caps);
