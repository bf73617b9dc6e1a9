#include "http/NetCookie.h"

#include "common/DateTime.h"
#include "common/Text.h"
#include "net/NetGlobal.h"

#include <cmath>
#include <mutex>

namespace {
const char* const kWeekDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string StripOneQuotePair(std::string s) {
    if (!s.empty() && s.front() == '"') s.erase(0, 1);
    if (!s.empty() && s.back() == '"') s.pop_back();
    return s;
}

// A server cookie's attributes joined by "; "; empty ones are left out.
struct TCookieParts {
    std::string text;
    void operator()(const std::string& s) {
        if (s.empty()) return;
        if (!text.empty()) text += "; ";
        text += s;
    }
};

// The current time in GMT plus seconds, in the classic cookie date form.
std::string CookieExpiryText(int64_t seconds) {
    const TDateTime gmt = Now() - UtcOffset() + static_cast<double>(seconds) / 86400.0;
    int y, m, d, hh, mm, ss, ms;
    DecodeDate(gmt, y, m, d);
    DecodeTime(gmt, hh, mm, ss, ms);
    return Format("%s, %d-%s-%d %02d:%02d:%02d GMT", kWeekDays[DayOfWeek(gmt) - 1], d,
                  kMonths[m - 1], y, hh, mm, ss);
}
} // namespace

// ---- Netscape -----------------------------------------------------------

std::vector<std::string> TNetNetscapeCookie::SplitAndParseName(const std::string& text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t semi = text.find(';', start);
        const std::string piece = Trim(std::string_view(text).substr(
            start, semi == std::string::npos ? std::string::npos : semi - start));
        if (semi == std::string::npos) {
            if (!piece.empty() || pieces.empty()) pieces.push_back(piece);
            break;
        }
        pieces.push_back(piece);
        start = semi + 1;
    }
    const std::string& first = pieces.front();
    const size_t eq = first.find('=');
    if (eq == std::string::npos) {
        CookieName.clear();
        CookieValue.clear();
    } else {
        CookieName = first.substr(0, eq);
        CookieValue = first.substr(eq + 1);
    }
    std::vector<std::string> attributes;
    for (size_t i = 1; i < pieces.size(); ++i) {
        const std::string& p = pieces[i];
        const size_t e = p.find('=');
        attributes.push_back(e == std::string::npos ? UpperCase(p)
                                                    : UpperCase(p.substr(0, e)) + p.substr(e));
    }
    return attributes;
}

std::string TNetNetscapeCookie::AttributeValue(const std::vector<std::string>& pieces,
                                               const std::string& name, bool& present) {
    present = false;
    for (const std::string& p : pieces) {
        if (p.size() > name.size() && p.compare(0, name.size(), name) == 0 &&
            p[name.size()] == '=') {
            present = true;
            return p.substr(name.size() + 1);
        }
    }
    return {};
}

void TNetNetscapeCookie::LoadNetscapeAttributes(const std::vector<std::string>& pieces) {
    bool present = false;
    CookiePath = StripOneQuotePair(AttributeValue(pieces, "PATH", present));
    CookieExpires = AttributeValue(pieces, "EXPIRES", present);
    CookieDomain = AttributeValue(pieces, "DOMAIN", present);
    CookieSecure = false;
    for (const std::string& p : pieces)
        if (p == "SECURE") CookieSecure = true;
}

void TNetNetscapeCookie::ParseCookieText(const std::string& text) {
    if (text == cookieText_) return;
    cookieText_ = text;
    LoadNetscapeAttributes(SplitAndParseName(text));
}

std::string TNetNetscapeCookie::FormatServerCookie() {
    TCookieParts part;
    if (!CookieValue.empty()) part(CookieName + "=" + CookieValue);
    if (!CookiePath.empty()) part("path=" + CookiePath);
    if (!CookieExpires.empty()) part("expires=" + CookieExpires);
    if (!CookieDomain.empty()) part("domain=" + CookieDomain);
    if (CookieSecure) part("secure");
    return part.text;
}

// ---- RFC 2109 -----------------------------------------------------------

void TNetCookieRFC2109::ParseCookieText(const std::string& text) {
    if (text == cookieText_) return;
    cookieText_ = text;
    const std::vector<std::string> pieces = SplitAndParseName(text);
    LoadNetscapeAttributes(pieces);
    bool present = false;
    CookieMaxAge = -1;
    if (Form == TCookieForm::RFC2109 && !CookieExpires.empty()) {
        const TDateTime expires = GMTTextToLocalDateTime(CookieExpires);
        if (expires > 0)
            CookieMaxAge = static_cast<int64_t>(std::floor((expires - Now()) * 86400.0));
    }
    if (Form == TCookieForm::RFC2109) {
        const std::string maxAge = AttributeValue(pieces, "MAX-AGE", present);
        if (present) CookieMaxAge = StrToInt64Def(maxAge, -1);
        CookieVersion = AttributeValue(pieces, "VERSION", present);
        CookieComment = AttributeValue(pieces, "COMMENT", present);
    }
    if (CookieExpires.empty()) {
        // No expiry text: switch to the Netscape form and derive one from max-age.
        Form = TCookieForm::Netscape;
        if (CookieMaxAge >= 0) CookieExpires = CookieExpiryText(CookieMaxAge);
    }
}

std::string TNetCookieRFC2109::FormatServerCookie() {
    if (CookieMaxAge >= 0) CookieExpires = CookieExpiryText(CookieMaxAge);
    TCookieParts part;
    if (!CookieValue.empty()) part(CookieName + "=" + CookieValue);
    if (!CookiePath.empty()) part("path=" + CookiePath);
    if (Form == TCookieForm::Netscape && !CookieExpires.empty()) part("expires=" + CookieExpires);
    if (!CookieDomain.empty()) part("domain=" + CookieDomain);
    if (CookieSecure) part("secure");
    if (CookieMaxAge >= 0 && CookieExpires.empty()) part("max-age=" + IntToStr(CookieMaxAge));
    if (!CookieComment.empty()) part("comment=" + CookieComment);
    if (!CookieVersion.empty()) part("version=" + CookieVersion);
    return part.text;
}

// ---- collections --------------------------------------------------------

void TNetCookieList::Add(const std::string& domain, TNetCookieRFC2109* cookie) {
    byDomain_.emplace(domain, cookie);
}

void TNetCookieList::Remove(TNetCookieRFC2109* cookie) {
    for (auto it = byDomain_.begin(); it != byDomain_.end();) {
        if (it->second == cookie)
            it = byDomain_.erase(it);
        else
            ++it;
    }
}

std::vector<TNetCookieRFC2109*> TNetCookieList::CookiesOf(const std::string& domain) const {
    std::vector<TNetCookieRFC2109*> out;
    auto [b, e] = byDomain_.equal_range(domain);
    for (auto it = b; it != e; ++it)
        out.push_back(it->second);
    return out;
}

TNetCookieRFC2109& TNetCookies::Append(std::unique_ptr<TNetCookieRFC2109> cookie) {
    items_.push_back(std::move(cookie));
    return *items_.back();
}

TNetCookieRFC2109& TNetCookies::Add() {
    return Append(std::make_unique<TNetCookieRFC2109>());
}

TNetCookieRFC2109& TNetServerCookies::Add() {
    return Append(std::make_unique<TNetServerCookie>());
}

TNetCookieRFC2109& TNetCookies::AddCookie(const std::string& text) {
    TNetCookieRFC2109& cookie = Add();
    cookie.ParseCookieText(text);
    if (!cookie.CookieDomain.empty()) {
        std::unique_lock guard(lock_);
        cookieList_.Add(cookie.CookieDomain, &cookie);
    }
    return cookie;
}

void TNetCookies::Delete(int index) {
    TNetCookieRFC2109* cookie = items_.at(static_cast<size_t>(index)).get();
    {
        std::unique_lock guard(lock_);
        cookieList_.Remove(cookie);
    }
    items_.erase(items_.begin() + index);
}

void TNetCookies::Clear() {
    std::unique_lock guard(lock_);
    cookieList_ = TNetCookieList();
    items_.clear();
}

int TNetCookies::FindCookie(int start, const std::string& name) const {
    for (int i = start < 0 ? 0 : start; i < Count(); ++i)
        if (SameText(items_[static_cast<size_t>(i)]->CookieName, name)) return i;
    return -1;
}
