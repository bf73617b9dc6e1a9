#include "app/ViewerGate.h"

#include "app/ViewerPassword.h"
#include "http/NetCoderMIME.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace {

std::string Digest(const std::string& password) {
    return QCryptographicHash::hash(QByteArray::fromStdString(password), QCryptographicHash::Sha256)
        .toStdString();
}

// "Basic BASE64" into user and password; false for anything else.
bool BasicCredentials(const std::string& field, std::string& user, std::string& password) {
    const size_t space = field.find(' ');
    if (space == std::string::npos) return false;
    const QByteArray scheme = QByteArray::fromStdString(field.substr(0, space));
    if (scheme.compare("Basic", Qt::CaseInsensitive) != 0) return false;
    std::string decoded;
    try {
        decoded = DecodeBase64Text(field.substr(field.find_first_not_of(' ', space)));
    } catch (const std::exception&) {
        return false; // not base64: no credentials at all, not a wrong guess
    }
    const size_t colon = decoded.find(':');
    if (colon == std::string::npos) return false;
    user = decoded.substr(0, colon);
    password = decoded.substr(colon + 1);
    return true;
}

} // namespace

std::string QueryValue(const std::string& target, const std::string& name) {
    const size_t question = target.find('?');
    if (question == std::string::npos) return {};
    const std::string query = target.substr(question + 1);
    for (size_t from = 0; from <= query.size();) {
        size_t end = query.find('&', from);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(from, end - from);
        if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 &&
            pair[name.size()] == '=')
            return QByteArray::fromPercentEncoding(
                       QByteArray::fromStdString(pair.substr(name.size() + 1)))
                .toStdString();
        from = end + 1;
    }
    return {};
}

void TViewerGate::SetPasswordHash(const std::string& hash) {
    const std::string token = hash.empty() ? std::string() : ViewerAccessToken(hash);
    std::lock_guard lock(lock_);
    if (hash == hash_) return;
    hash_ = hash;
    token_ = token;
    goodDigest_.clear();
    ++generation_;
}

std::string TViewerGate::PasswordHash() const {
    std::lock_guard lock(lock_);
    return hash_;
}

bool TViewerGate::HasPassword() const {
    std::lock_guard lock(lock_);
    return !hash_.empty();
}

std::string TViewerGate::Token() const {
    std::lock_guard lock(lock_);
    return token_;
}

std::string TViewerGate::LinkQuery() const {
    const std::string token = Token();
    return token.empty() ? std::string() : "?k=" + token;
}

uint64_t TViewerGate::Generation() const {
    std::lock_guard lock(lock_);
    return generation_;
}

TViewerAccess TViewerGate::Check(const TViewerRequest& request) {
    std::string user, password;
    const bool has = BasicCredentials(request.Authorization, user, password);
    return Check(request.Peer, request.Target, has, user, password);
}

TViewerAccess TViewerGate::Check(const std::string& peer, const std::string& target,
                                 bool hasCredentials, const std::string& user,
                                 const std::string& password) {
    if (!rules_.Admits(peer)) return TViewerAccess::Forbidden;
    if (!HasPassword()) return TViewerAccess::Allow;
    const auto now = TFailedTries::Clock::now();
    if (tries_.Refused(peer, now)) return TViewerAccess::TooManyTries;
    if (Matches(target, hasCredentials, user, password)) return TViewerAccess::Allow;
    // Asking without credentials is how a browser learns it needs some:
    // only a wrong guess counts against the address.
    if (!hasCredentials && QueryValue(target, "k").empty()) return TViewerAccess::Unauthorized;
    tries_.Failed(peer, now);
    return tries_.Refused(peer, now) ? TViewerAccess::TooManyTries : TViewerAccess::Unauthorized;
}

bool TViewerGate::Matches(const std::string& target, bool hasCredentials, const std::string& user,
                          const std::string& password) {
    std::string hash, token, good;
    {
        std::lock_guard lock(lock_);
        hash = hash_;
        token = token_;
        good = goodDigest_;
    }
    const std::string k = QueryValue(target, "k");
    if (!k.empty() && !token.empty() && SameSecret(k, token)) return true;
    if (!hasCredentials || user != kUser) return false;
    if (!token.empty() && SameSecret(password, token)) return true;
    // The slow hash once per password: a player reconnecting, or several
    // players of one household, must not cost a tenth of a second each.
    const std::string digest = Digest(password);
    if (!good.empty() && SameSecret(digest, good)) return true;
    if (!ViewerPasswordMatches(password, hash)) return false;
    std::lock_guard lock(lock_);
    if (hash_ == hash) goodDigest_ = digest; // unless the password changed meanwhile
    return true;
}
