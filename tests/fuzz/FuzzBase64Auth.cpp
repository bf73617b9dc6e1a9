// Base64 decoding (and the round trip of what decodes), Basic credentials as
// the request loop splits them, and an authentication challenge.
#include "FuzzSupport.h"
#include "http/NetAuthentication.h"
#include "http/NetCoderMIME.h"
#include "net/NetGlobal.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        std::string decoded = DecodeBase64Text(text);
        const std::string again = EncodeBase64Text(decoded);
        if (DecodeBase64Text(again) != decoded) std::abort(); // the coder must round-trip
        std::string credentials = decoded;
        (void)FetchToken(credentials, ":", true);
    } catch (const ENetException&) {
    }
    try {
        TNetBasicAuthentication basic;
        basic.ReadChallenge(text);
        basic.Username = text;
        (void)basic.Authentication();
    } catch (const ENetException&) {
    }
    return 0;
}
