#include "updater/minisign.h"

#include <sodium.h>

#include <QList>
#include <cstring>
#include <tuple>

namespace Updater {
namespace Minisign {

namespace {

constexpr char kUntrusted[] = "untrusted comment: ";
constexpr char kTrusted[] = "trusted comment: ";

// Strict: a line that is not pure base64 of exactly the expected length is refused, not repaired.
bool decodeLine(const QByteArray& line, std::size_t expected, QByteArray* out) {
    const auto result = QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
    if (result.decodingStatus != QByteArray::Base64DecodingStatus::Ok ||
        static_cast<std::size_t>(result.decoded.size()) != expected) {
        return false;
    }
    *out = result.decoded;
    return true;
}

QList<QByteArray> lines(const QByteArray& text) {
    QList<QByteArray> out = text.split('\n');
    for (QByteArray& line : out) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
    // One final line break is usual; more empty lines mean a different file.
    if (!out.isEmpty() && out.last().isEmpty()) {
        out.removeLast();
    }
    return out;
}

bool sodiumReady() {
    // Idempotent and thread-safe; it only picks the fastest implementation for this processor.
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

std::optional<PublicKey> PublicKey::fromText(const QByteArray& text) {
    if (text.size() > Signature::kMaxTextSize) {
        return std::nullopt;
    }
    const QList<QByteArray> all = lines(text.trimmed());
    QByteArray line;
    if (all.size() == 1) {
        line = all.first();
    } else if (all.size() == 2 && all.first().startsWith(kUntrusted)) {
        line = all.at(1);
    } else {
        return std::nullopt;
    }
    QByteArray decoded;
    if (!decodeLine(line, 2 + 8 + 32, &decoded) || !decoded.startsWith("Ed")) {
        return std::nullopt;
    }
    PublicKey key;
    std::memcpy(key.keyId.data(), decoded.constData() + 2, key.keyId.size());
    std::memcpy(key.key.data(), decoded.constData() + 10, key.key.size());
    return key;
}

std::optional<Signature> Signature::fromText(const QByteArray& text) {
    if (text.size() > kMaxTextSize) {
        return std::nullopt;
    }
    const QList<QByteArray> all = lines(text);
    if (all.size() != 4 || !all.at(0).startsWith(kUntrusted) || !all.at(2).startsWith(kTrusted)) {
        return std::nullopt;
    }
    QByteArray decoded;
    Signature signature;
    if (!decodeLine(all.at(1), 2 + 8 + 64, &decoded)) {
        return std::nullopt;
    }
    if (decoded.startsWith("Ed")) {
        signature.algorithm = Algorithm::Legacy;
    } else if (decoded.startsWith("ED")) {
        signature.algorithm = Algorithm::Prehashed;
    } else {
        return std::nullopt;
    }
    std::memcpy(signature.keyId.data(), decoded.constData() + 2, signature.keyId.size());
    std::memcpy(signature.signature.data(), decoded.constData() + 10, signature.signature.size());
    signature.trustedComment = all.at(2).mid(int(sizeof(kTrusted)) - 1);
    if (!decodeLine(all.at(3), 64, &decoded)) {
        return std::nullopt;
    }
    std::memcpy(signature.globalSignature.data(), decoded.constData(), signature.globalSignature.size());
    return signature;
}

struct Prehash::State {
    crypto_generichash_state hash;
    bool done = false;
};

Prehash::Prehash() : m_state(std::make_unique<State>()) {
    (void)sodiumReady();
    crypto_generichash_init(&m_state->hash, nullptr, 0, crypto_generichash_BYTES_MAX);
}

Prehash::~Prehash() = default;

void Prehash::update(const void* data, std::size_t size) {
    if (!m_state->done && size > 0) {
        crypto_generichash_update(&m_state->hash, static_cast<const unsigned char*>(data), size);
    }
}

Hash Prehash::final() {
    static_assert(crypto_generichash_BYTES_MAX == std::tuple_size<Hash>::value, "BLAKE2b-512");
    Hash out{};
    if (!m_state->done) {
        crypto_generichash_final(&m_state->hash, out.data(), out.size());
        m_state->done = true;
    }
    return out;
}

bool verifyPrehashed(const PublicKey& key, const Signature& signature, const Hash& hash) {
    // A legacy signature over a 64-byte file equal to this hash would verify as well; only 'ED' is ours.
    if (!sodiumReady() || key.keyId != signature.keyId ||
        signature.algorithm != Signature::Algorithm::Prehashed ||
        crypto_sign_verify_detached(signature.signature.data(), hash.data(), hash.size(), key.key.data()) !=
            0) {
        return false;
    }
    // The trusted comment is signed together with the file's signature, so neither can be swapped alone.
    QByteArray global(reinterpret_cast<const char*>(signature.signature.data()),
                      int(signature.signature.size()));
    global += signature.trustedComment;
    return crypto_sign_verify_detached(signature.globalSignature.data(),
                                       reinterpret_cast<const unsigned char*>(global.constData()),
                                       static_cast<unsigned long long>(global.size()), key.key.data()) == 0;
}

bool verify(const PublicKey& key, const Signature& signature, const std::uint8_t* data, std::size_t size) {
    if (data == nullptr && size != 0) {
        return false;
    }
    Prehash hash;
    hash.update(data, size);
    return verifyPrehashed(key, signature, hash.final());
}

std::optional<PublicKey> compiledKey() {
#ifdef MELDRA_UPDATE_PUBLIC_KEY
    static const std::optional<PublicKey> key =
        PublicKey::fromText(QByteArrayLiteral(MELDRA_UPDATE_PUBLIC_KEY));
    return key;
#else
    return std::nullopt;
#endif
}

}  // namespace Minisign
}  // namespace Updater
