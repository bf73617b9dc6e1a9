#include "app/ViewerPassword.h"

#include "common/AccessRules.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace {

constexpr int kIterations = 100000;
constexpr int kKeyBytes = 32;
constexpr const char* kScheme = "pbkdf2-sha256";

QByteArray Derive(const std::string& password, const QByteArray& salt, int iterations) {
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256,
                                              QByteArray::fromStdString(password), salt, iterations,
                                              kKeyBytes);
}

struct THashParts {
    int Iterations = 0;
    QByteArray Salt, Key;
};

bool Split(const std::string& hash, THashParts& out) {
    const QStringList parts = QString::fromStdString(hash).split('$');
    if (parts.size() != 4 || parts[0] != kScheme) return false;
    bool number = false;
    out.Iterations = parts[1].toInt(&number);
    // A hash someone edited must not make every check take forever.
    if (!number || out.Iterations < 1000 || out.Iterations > 10000000) return false;
    const auto strict = QByteArray::AbortOnBase64DecodingErrors;
    auto salt = QByteArray::fromBase64Encoding(parts[2].toLatin1(), strict);
    auto key = QByteArray::fromBase64Encoding(parts[3].toLatin1(), strict);
    if (!salt || !key || salt.decoded.size() < 8 || key.decoded.size() != kKeyBytes) return false;
    out.Salt = salt.decoded;
    out.Key = key.decoded;
    return true;
}

} // namespace

std::string HashViewerPassword(const std::string& password) {
    QByteArray salt(16, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(salt.data()), 4);
    const QByteArray key = Derive(password, salt, kIterations);
    return std::string(kScheme) + "$" + std::to_string(kIterations) + "$" +
           salt.toBase64().toStdString() + "$" + key.toBase64().toStdString();
}

bool ViewerPasswordMatches(const std::string& password, const std::string& hash) {
    THashParts parts;
    if (!Split(hash, parts)) return false;
    const QByteArray key = Derive(password, parts.Salt, parts.Iterations);
    return SameSecret(key.toStdString(), parts.Key.toStdString());
}

std::string ViewerAccessToken(const std::string& hash) {
    THashParts parts;
    if (!Split(hash, parts)) return {};
    const QByteArray mac = QMessageAuthenticationCode::hash("kavaroXP watch link", parts.Key,
                                                            QCryptographicHash::Sha256);
    return mac.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
        .toStdString();
}

bool ViewerTokenMatches(const std::string& token, const std::string& hash) {
    const std::string expected = ViewerAccessToken(hash);
    return !expected.empty() && SameSecret(token, expected);
}
