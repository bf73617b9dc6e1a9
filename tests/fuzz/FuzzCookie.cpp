// Cookie texts as a client sends them (and as a server's Set-Cookie would
// be read back), formatted again.
#include "FuzzSupport.h"
#include "http/NetCookie.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TNetServerCookies cookies;
    try {
        cookies.AddCookie(text);
        TNetCookieRFC2109 cookie;
        cookie.ParseCookieText(text);
        (void)cookie.FormatServerCookie();
        for (int i = 0; i < cookies.Count(); ++i)
            (void)cookies[i].FormatServerCookie();
    } catch (const ENetException&) {
    }
    return 0;
}
