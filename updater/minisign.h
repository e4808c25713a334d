#pragma once

#include <QByteArray>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace Updater {

// Ed25519 signatures in minisign's file format, the format Debian's minisign tool writes. Releases are
// signed with that tool; this side only reads and verifies.
namespace Minisign {

using KeyId = std::array<std::uint8_t, 8>;

struct PublicKey {
    KeyId keyId{};
    std::array<std::uint8_t, 32> key{};

    // The key's base64 line, or a whole public key file (an untrusted comment line, then that line).
    [[nodiscard]] static std::optional<PublicKey> fromText(const QByteArray& text);
};

struct Signature {
    enum class Algorithm {
        Legacy,     // Ed25519 over the file itself
        Prehashed,  // Ed25519 over the file's BLAKE2b-512 hash
    };

    // A ".minisig" file has four lines and fits in a few hundred bytes; anything larger is not one.
    static constexpr qsizetype kMaxTextSize = 8 * 1024;

    Algorithm algorithm = Algorithm::Prehashed;
    KeyId keyId{};
    std::array<std::uint8_t, 64> signature{};
    QByteArray trustedComment;
    std::array<std::uint8_t, 64> globalSignature{};

    [[nodiscard]] static std::optional<Signature> fromText(const QByteArray& text);
};

// True only when the signature was made by key over exactly these bytes and its trusted comment is the
// one the key signed along with it.
[[nodiscard]] bool verify(const PublicKey& key, const Signature& signature, const std::uint8_t* data,
                          std::size_t size);

// The key compiled into this build, if any.
[[nodiscard]] std::optional<PublicKey> compiledKey();

}  // namespace Minisign

}  // namespace Updater
