#pragma once

#include <QByteArray>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace Updater {

// Ed25519 signatures in minisign's file format, the format Debian's minisign tool writes. Releases are
// signed with that tool; this side only reads and verifies, and only the prehashed form ('ED', over the
// file's BLAKE2b-512 hash): a legacy signature ('Ed', over the file itself) is read so that its refusal
// can be named, and never verifies.
namespace Minisign {

using KeyId = std::array<std::uint8_t, 8>;

struct PublicKey {
    KeyId keyId{};
    std::array<std::uint8_t, 32> key{};

    // The key's base64 line, or a whole public key file (an untrusted comment line, then that line).
    [[nodiscard]] static std::optional<PublicKey> fromText(const QByteArray& text);
};

using Hash = std::array<std::uint8_t, 64>;

struct Signature {
    enum class Algorithm {
        Legacy,     // Ed25519 over the file itself: refused
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

// The BLAKE2b-512 hash a prehashed signature covers, fed as the bytes arrive, so a download is hashed
// while it is written instead of read again afterwards.
class Prehash {
public:
    Prehash();
    ~Prehash();
    Prehash(const Prehash&) = delete;
    Prehash& operator=(const Prehash&) = delete;

    void update(const void* data, std::size_t size);
    // The hash of everything fed so far; feeding more afterwards starts nothing new.
    [[nodiscard]] Hash final();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// True only when the signature is a prehashed one made by key over the file with this hash, and its
// trusted comment is the one the key signed along with it.
[[nodiscard]] bool verifyPrehashed(const PublicKey& key, const Signature& signature, const Hash& hash);

// The same for bytes in memory.
[[nodiscard]] bool verify(const PublicKey& key, const Signature& signature, const std::uint8_t* data,
                          std::size_t size);

// The key compiled into this build, if any.
[[nodiscard]] std::optional<PublicKey> compiledKey();

}  // namespace Minisign

}  // namespace Updater
