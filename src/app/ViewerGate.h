#pragma once
// TViewerGate: who may watch, asked by both servers for every viewer path
// (the landing page, the watch page, /whep, the ASF and WebM streams). An
// address kept out by the rules gets Forbidden; with a viewer password set,
// a request must carry the access link's token (?k=...) or HTTP Basic
// credentials (user "viewer", the password or the token as password);
// wrong ones count as failed tries of that address, and more than ten in a
// minute get TooManyTries for a minute. Without a password and rules,
// everyone is let in, as before there was a gate.
//
// Threads: any; lock_ guards the hash, the token and the remembered
// password digest. The rules and the tries lock themselves.
#include "common/AccessRules.h"
#include "platform/StreamAccessInterfaces.h"

#include <cstdint>
#include <mutex>
#include <string>

class TViewerGate {
  public:
    static constexpr const char* kUser = "viewer";

    // A hash from HashViewerPassword; empty: no password. Links made for
    // another hash stop working at once.
    void SetPasswordHash(const std::string& hash);
    std::string PasswordHash() const;
    bool HasPassword() const;
    // The access link's token; empty without a password.
    std::string Token() const;
    // "?k=TOKEN", or empty without a password: what a link appends.
    std::string LinkQuery() const;
    // Counts changes of the password, so that a server holding sessions of
    // its own (WebRTC) can tell that they must end.
    uint64_t Generation() const;

    TAddressRules& Rules() { return rules_; }
    const TAddressRules& Rules() const { return rules_; }
    // Forgets the failed tries (a new broadcast starts clean).
    void ClearFailedTries() { tries_.Clear(); }

    // A request as the stream server sees it: the raw Authorization field.
    TViewerAccess Check(const TViewerRequest& request);
    // A request whose Basic credentials the HTTP server decoded already.
    TViewerAccess Check(const std::string& peer, const std::string& target, bool hasCredentials,
                        const std::string& user, const std::string& password);

  private:
    bool Matches(const std::string& target, bool hasCredentials, const std::string& user,
                 const std::string& password);

    mutable std::mutex lock_;
    std::string hash_, token_;
    std::string goodDigest_; // SHA-256 of the last password that matched hash_
    uint64_t generation_ = 0;
    TAddressRules rules_;
    TFailedTries tries_;
};

// The value of name in a request target's query ("/watch?k=abc" → "abc"),
// percent-decoded; empty when absent.
std::string QueryValue(const std::string& target, const std::string& name);
