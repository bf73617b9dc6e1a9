#include "http/NetAuthentication.h"

#include "common/Text.h"
#include "http/NetCoderMIME.h"

#include <map>
#include <mutex>

namespace {
struct TRegistration {
    std::string className;
    TNetAuthenticationFactory factory;
};

struct TRegistry {
    std::mutex lock;                             // guards byName
    std::map<std::string, TRegistration> byName; // key: upper-cased scheme name

    TRegistry() {
        byName.emplace("BASIC",
                       TRegistration{"TNetBasicAuthentication",
                                     [] { return std::make_unique<TNetBasicAuthentication>(); }});
    }
};

// Built on first use, so "Basic" is present however the library is linked.
TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}
} // namespace

void TNetAuthentication::ReadChallenge(const std::string& challenge) {
    // Parameters are comma-separated name=value pairs, values optionally quoted.
    Params.Clear();
    size_t start = 0;
    while (start < challenge.size()) {
        size_t comma = challenge.find(',', start);
        if (comma == std::string::npos) comma = challenge.size();
        std::string piece = Trim(std::string_view(challenge).substr(start, comma - start));
        const size_t eq = piece.find('=');
        if (eq != std::string::npos) {
            std::string value = Trim(piece.substr(eq + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            Params.Add(Trim(piece.substr(0, eq)) + "=" + value);
        }
        start = comma + 1;
    }
}

void TNetBasicAuthentication::ReadChallenge(const std::string& challenge) {
    TNetAuthentication::ReadChallenge(challenge);
    Realm = Params.Values("realm");
}

std::string TNetBasicAuthentication::Authentication() {
    return "Basic " + EncodeBase64Text(Username + ":" + Password);
}

void RegisterAuthenticationMethod(const std::string& name, const std::string& className,
                                  TNetAuthenticationFactory factory) {
    TRegistry& r = Registry();
    std::lock_guard guard(r.lock);
    auto it = r.byName.find(UpperCase(name));
    if (it != r.byName.end()) throw ENetAlreadyRegisteredAuthenticationMethod(it->second.className);
    r.byName.emplace(UpperCase(name), TRegistration{className, std::move(factory)});
}

void UnregisterAuthenticationMethod(const std::string& name) {
    TRegistry& r = Registry();
    std::lock_guard guard(r.lock);
    r.byName.erase(UpperCase(name));
}

std::unique_ptr<TNetAuthentication> FindAuthenticationMethod(const std::string& name) {
    TRegistry& r = Registry();
    std::lock_guard guard(r.lock);
    auto it = r.byName.find(UpperCase(name));
    return it == r.byName.end() ? nullptr : it->second.factory();
}
