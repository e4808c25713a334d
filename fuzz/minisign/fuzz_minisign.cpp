// libFuzzer target for the readers of minisign public keys and signatures, the first things the program
// reads from a hostile update service or download folder.
// Input: one byte choosing the reader (even: signature, odd: public key); the rest is the file's text.
// A signature that is read is also verified, against a fixed key, over the text itself: no input made
// without that key's secret may ever verify.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "updater/minisign.h"

namespace Minisign = Updater::Minisign;

namespace {

// The public half of a key pair whose secret half was thrown away when it was made.
const QByteArray kKey = QByteArrayLiteral("RWT1W4x7L6tAbRuymN5utapE2ScEKb87Ly6eo+L3Nll2A53h68ZVD+uc");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), int(size - 1));
    if (data[0] % 2 == 1) {
        const auto key = Minisign::PublicKey::fromText(text);
        // What was read must read back the same from its own base64 line.
        if (key) {
            QByteArray raw("Ed");
            raw.append(reinterpret_cast<const char*>(key->keyId.data()), int(key->keyId.size()));
            raw.append(reinterpret_cast<const char*>(key->key.data()), int(key->key.size()));
            const auto again = Minisign::PublicKey::fromText(raw.toBase64());
            if (!again || again->key != key->key || again->keyId != key->keyId) {
                std::abort();
            }
        }
        return 0;
    }
    const auto signature = Minisign::Signature::fromText(text);
    if (!signature) {
        return 0;
    }
    if (signature->trustedComment.contains('\n') || text.size() > Minisign::Signature::kMaxTextSize) {
        std::abort();
    }
    const auto key = Minisign::PublicKey::fromText(kKey);
    if (!key) {
        std::abort();
    }
    if (Minisign::verify(*key, *signature, data, size)) {
        std::abort();
    }
    return 0;
}
