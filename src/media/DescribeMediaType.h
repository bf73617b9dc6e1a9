#pragma once
// One line of text for a media type record:
// "Major Type: <major> - Sub Type: <subtype> Format: <format part>".
#include "platform/MediaTypes.h"

#include <string>

std::string DescribeMediaType(const AM_MEDIA_TYPE& mediaType);

// The parts, for callers that need one name.
std::string MajorTypeName(const GUID& majorType); // "UnKnown " for any other
std::string SubTypeName(const GUID& subType);     // "UnKnown " for any other
std::string WaveFormatTagName(WORD tag);          // "Unknown" for any other
std::string CompressionName(DWORD compression);   // "RGB", ..., or the four characters
