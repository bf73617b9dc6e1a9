#include "net/NetGlobal.h"

#include "common/Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>

const char* const kNetWeekdayNames[8] = {"", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kNetMonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

// Day numbers of 1 January 0001 and 1 January 10000: the calendar's range.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958466.0;

// A value outside the calendar (or NaN) is written as day 0 rather than fed
// to the day arithmetic, which it would overflow.
TDateTime InCalendar(TDateTime value) {
    return std::isfinite(value) && value >= kMinDateTime && value < kMaxDateTime ? value : 0.0;
}

// Unsigned decimal; signs, blanks and "$" are refused. Values above
// 999999999 read as 999999999, which no date, time or address part accepts.
bool TryDigits(std::string_view s, int& out) {
    if (s.empty()) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        if (v < 100000000)
            v = v * 10 + (c - '0');
        else
            v = 999999999;
    }
    out = v;
    return true;
}

int DigitsDef(std::string_view s, int def) {
    int v;
    return TryDigits(s, v) ? v : def;
}

// 1..12 for a month abbreviation in any letter case, else 0.
int MonthOf(std::string_view s) {
    for (int m = 1; m <= 12; ++m)
        if (SameText(s, kNetMonthNames[m])) return m;
    return 0;
}

bool IsWeekday(std::string_view s) {
    for (int d = 1; d <= 7; ++d)
        if (SameText(s, kNetWeekdayNames[d])) return true;
    return false;
}

std::string TimeText(TDateTime value) {
    int h, m, s, ms;
    DecodeTime(value, h, m, s, ms);
    return Format("%.2d:%.2d:%.2d", h, m, s);
}

// localtime_r need not notice a changed TZ by itself, but tzset on every call
// costs a look at the zone file per date written; re-read it only when TZ
// changes.
void RefreshZone() {
    static std::mutex lock;
    static std::string last;
    static bool done = false;
    std::lock_guard<std::mutex> g(lock);
    const char* tz = getenv("TZ");
    std::string now = tz ? std::string("=") + tz : std::string();
    if (done && now == last) return;
    tzset();
    last = std::move(now);
    done = true;
}

// The zone's bias in minutes (UTC = local + bias) from the C library; false
// when it cannot tell.
bool LocalBiasMinutes(long& bias) {
    RefreshZone();
    const time_t now = time(nullptr);
    tm local{};
    if (now == time_t(-1) || localtime_r(&now, &local) == nullptr) return false;
    // tm_gmtoff already includes daylight saving time when tm_isdst is set.
    bias = -(local.tm_gmtoff / 60);
    return true;
}

} // namespace

std::string ZoneOffsetText(bool isGMT, TDateTime offset) {
    if (offset == 0 && isGMT) return "GMT";
    int h, m, s, ms;
    DecodeTime(std::fabs(InCalendar(offset)), h, m, s, ms);
    std::string r = Format(" %.2d%.2d", h, m);
    r[0] = offset >= 0 ? '+' : '-';
    return r;
}

TDateTime UtcOffset() {
    long bias;
    if (!LocalBiasMinutes(bias)) throw ENetFailedToRetreiveTimeZoneInfo();
    const long a = bias < 0 ? -bias : bias;
    TDateTime r;
    if (!TryEncodeTime(int(a / 60), int(a % 60), 0, 0, r)) throw ENetFailedToRetreiveTimeZoneInfo();
    return bias > 0 ? -r : r;
}

TDateTime TimeZoneBias() {
    long bias;
    if (!LocalBiasMinutes(bias)) throw ENetException(std::strerror(errno));
    return double(bias) / 1440.0;
}

std::string DateTimeToInternetText(bool isGMT, TDateTime value) {
    value = InCalendar(value);
    int y, mo, d;
    DecodeDate(value, y, mo, d);
    return Format("%s, %d %s %d %s %s", kNetWeekdayNames[DayOfWeek(value)], d, kNetMonthNames[mo],
                  y, TimeText(value).c_str(), ZoneOffsetText(isGMT, UtcOffset()).c_str());
}

std::string HttpDateText(TDateTime value) {
    value = InCalendar(value);
    int y, mo, d;
    DecodeDate(value, y, mo, d);
    return Format("%s, %.2d %s %.4d %s %s", kNetWeekdayNames[DayOfWeek(value)], d,
                  kNetMonthNames[mo], y, TimeText(value).c_str(), "GMT");
}

TDateTime InternetTextToDateTime(std::string& text) {
    text = Trim(text);
    if (text.empty()) return 0;

    // Weekday: "Sun," / "Sunday," / "Sun" (asctime). "Sun,06 Nov" reads as
    // "Sun, 06 Nov".
    if (text.size() >= 3 && IsWeekday(std::string_view(text).substr(0, 3))) {
        if (text.size() >= 5 && text[3] == ',' && text[4] != ' ') text.insert(4, " ");
        FetchToken(text);
        text = TrimLeft(text);
    }

    // RFC 850 dates use dashes ("06-Nov-94"); the others blanks.
    const size_t dash = text.find('-');
    const size_t blank = text.find(' ');
    const std::string sep =
        dash != std::string::npos && dash > 0 && blank != std::string::npos && dash < blank ? "-"
                                                                                            : " ";

    int day, month;
    {
        std::string probe = text;
        const bool monthFirst = MonthOf(FetchToken(probe, sep)) != 0;
        if (monthFirst) {
            month = MonthOf(FetchToken(text, sep));
            text = TrimLeft(text);
            day = DigitsDef(FetchToken(text, sep), 1);
            text = TrimLeft(text);
        } else {
            day = DigitsDef(FetchToken(text, sep), 1);
            text = TrimLeft(text);
            month = MonthOf(FetchToken(text, sep));
            text = TrimLeft(text);
        }
    }

    // Year; in the asctime form the time comes first and the year last.
    int year;
    {
        std::string token = FetchToken(text);
        if (!TryDigits(token, year)) {
            year = DigitsDef(Trim(text), 1900);
            text = token;
        }
    }
    if (year < 80)
        year += 2000;
    else if (year < 100)
        year += 1900;

    int h = 0, mi = 0, s = 0;
    if (text.find(':') != std::string::npos) {
        std::string t = FetchToken(text);
        h = DigitsDef(FetchToken(t, ":"), 0);
        mi = DigitsDef(FetchToken(t, ":"), 0);
        s = DigitsDef(FetchToken(t), 0);
    }
    text = TrimLeft(text);

    TDateTime date, time;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(h, mi, s, 0, time)) return 0;
    // Before day 0 the fraction counts backwards from the whole day.
    return date < 0 ? date - time : date + time;
}

TDateTime ZoneTextToOffset(std::string_view text) {
    const std::string z = Trim(text).substr(0, 5);
    if (z.empty() || (z[0] != '+' && z[0] != '-')) return 0;
    // substr keeps within a short text: "+01" has no minutes and reads as 0.
    int h, m;
    TDateTime r;
    if (!TryDigits(z.substr(1, 2), h) ||
        !TryDigits(z.substr(std::min<size_t>(3, z.size()), 2), m) || !TryEncodeTime(h, m, 0, 0, r))
        return 0;
    return z[0] == '-' ? -r : r;
}

TDateTime GMTTextToLocalDateTime(std::string_view text) {
    std::string rest(text);
    const TDateTime value = InternetTextToDateTime(rest);
    if (value == 0) return 0;
    const TDateTime zone = rest.size() > 4 ? ZoneTextToOffset(rest) : 0;
    return value - zone + UtcOffset();
}

namespace {
// The text before at (all of it when at is npos); with remove, that part and
// the delimiter after it leave text.
std::string TakeToken(std::string& text, size_t at, size_t delimiterSize, bool remove) {
    std::string result;
    if (at == std::string::npos) {
        result = text;
        if (remove) text.clear();
    } else {
        result = text.substr(0, at);
        if (remove) text.erase(0, at + delimiterSize);
    }
    return result;
}
} // namespace

std::string FetchToken(std::string& text, std::string_view delimiter, bool remove,
                       bool caseSensitive) {
    if (!caseSensitive) return FetchTokenCaseInsensitive(text, delimiter, remove);
    const size_t at = delimiter.empty() ? std::string::npos : text.find(delimiter);
    return TakeToken(text, at, delimiter.size(), remove);
}

std::string FetchTokenCaseInsensitive(std::string& text, std::string_view delimiter, bool remove) {
    // Upper-casing keeps every byte in place, so positions carry over.
    const size_t at =
        delimiter.empty() ? std::string::npos : UpperCase(text).find(UpperCase(delimiter));
    return TakeToken(text, at, delimiter.size(), remove);
}

size_t RPos(std::string_view sub, std::string_view text, int64_t start) {
    if (sub.empty() || sub.size() > text.size()) return 0;
    const int64_t last = int64_t(text.size() - sub.size()) + 1;
    if (start == -1 || start > last) start = last;
    if (start < 1) return 0;
    for (int64_t p = start; p >= 1; --p)
        if (SameText(text.substr(size_t(p - 1), sub.size()), sub)) return size_t(p);
    return 0;
}

bool IsValidIP(std::string_view text) {
    std::string s = Trim(text);
    for (int i = 0; i < 4; ++i) {
        const std::string part = FetchToken(s, ".");
        int v;
        if (!TryDigits(part, v) || v > 255) return false;
    }
    return true;
}

bool IsHostname(std::string_view text) {
    return !text.empty() && text.front() != '.' && !IsValidIP(text);
}

std::string DomainName(std::string_view host) {
    const size_t at = host.find('.');
    return std::string(at == std::string_view::npos ? host : host.substr(at));
}

int64_t FileSizeOf(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw ENetException(
            Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
    struct stat st {};
    const int rc = ::fstat(fd, &st);
    const int err = errno;
    ::close(fd);
    if (rc != 0)
        throw ENetException(
            Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(err)));
    return int64_t(st.st_size);
}
