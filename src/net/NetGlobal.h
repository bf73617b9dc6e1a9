#pragma once
// Text routines of the network library used by the HTTP server: internet
// dates with time-zone handling, token fetching, and IPv4 / host-name tests.
// The URI splitter and the MIME table live in NetURI.h and NetMimeTable.h.
#include "common/DateTime.h"
#include "net/NetException.h"
#include "net/NetMimeTable.h"

#include <cstdint>
#include <string>
#include <string_view>

// English names whatever the system's language; index 1 = Sunday / January,
// index 0 is empty.
extern const char* const kNetWeekdayNames[8];
extern const char* const kNetMonthNames[13];

// "Sun, 6 Nov 1994 08:49:37 +0100": the value written as it is, followed by the
// machine's current zone offset ("GMT" only when isGMT and the offset is 0).
std::string DateTimeToInternetText(bool isGMT, TDateTime value);
// "Sun, 06 Nov 1994 08:49:37 GMT": the value written as it is, no conversion.
std::string HttpDateText(TDateTime value);

// Reads the RFC 1123, RFC 850 and asctime forms (two-digit years below 80
// are 20xx, others 19xx). On return `text` holds what followed the date and
// time (the zone). Unreadable dates give 0; it never raises.
TDateTime InternetTextToDateTime(std::string& text);
// The instant of an internet date in the machine's local time; 0 when the
// date cannot be read.
TDateTime GMTTextToLocalDateTime(std::string_view text);

// Local time minus UTC, as a day fraction (positive east of UTC). Raises
// ENetFailedToRetreiveTimeZoneInfo when the C library cannot tell.
TDateTime UtcOffset();
// UTC minus local time, as a day fraction (positive west of UTC). Raises
// ENetException with the system's error text when the C library cannot tell.
TDateTime TimeZoneBias();
// "+0100", "-0500"; "GMT" for a zero offset when isGMT.
std::string ZoneOffsetText(bool isGMT, TDateTime offset);
// "+hhmm" / "-hhmm" to a day fraction; anything else gives 0.
TDateTime ZoneTextToOffset(std::string_view text);

// Takes the text before the first `delimiter` (the whole text when there is
// none); with `remove` the text keeps only what follows the delimiter (or
// becomes empty). An empty delimiter is never found.
std::string FetchToken(std::string& text, std::string_view delimiter = " ", bool remove = true,
                       bool caseSensitive = true);
std::string FetchTokenCaseInsensitive(std::string& text, std::string_view delimiter = " ",
                                      bool remove = true);

// 1-based position of the last occurrence of `sub` (ASCII case ignored) that
// begins at or before `start` (-1 = the end of the text); 0 when none.
size_t RPos(std::string_view sub, std::string_view text, int64_t start = -1);

// Four "."-separated decimal numbers 0..255 at the front of the trimmed text.
bool IsValidIP(std::string_view text);
// Not empty, not starting with "." and not an IPv4 address.
bool IsHostname(std::string_view text);
// The text from the first "." on; the whole text when it has none.
std::string DomainName(std::string_view host);

// Size in bytes of a file opened for reading. Raises ENetException when it
// cannot be opened.
int64_t FileSizeOf(const std::string& fileName);
