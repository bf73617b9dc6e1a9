#pragma once
// The viewer password of a private broadcast. It is kept only as a salted,
// slow hash ("pbkdf2-sha256$ITERATIONS$SALT$KEY", base64), never as itself;
// the access link's token is derived from the hash, so that a new password
// makes every old link worthless at once.
#include <string>

// A hash of password with a fresh random salt.
std::string HashViewerPassword(const std::string& password);
// Whether password is the one behind hash (false for a malformed hash).
bool ViewerPasswordMatches(const std::string& password, const std::string& hash);
// The token the access link carries (?k=...): 43 URL-safe characters; empty
// for a malformed hash.
std::string ViewerAccessToken(const std::string& hash);
// Whether a token is the one of hash, in constant time.
bool ViewerTokenMatches(const std::string& token, const std::string& hash);
