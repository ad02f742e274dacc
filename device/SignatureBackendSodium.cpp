// The signature primitives from libsodium.
#include "device/SignatureBackend.h"

#include <sodium.h>

namespace fwup {

namespace {

// sodium_init is safe to call again and from several threads; -1 means the
// library cannot run here, and then nothing verifies.
bool SodiumReady() {
    static const bool bReady = sodium_init() >= 0;
    return bReady;
}

} // namespace

bool SignatureBackendAvailable() {
    return SodiumReady();
}

bool VerifyEd25519(const Ed25519Signature& signature, const uint8_t* pMessage, size_t nCount,
                   const Ed25519PublicKey& key) {
    return SodiumReady() &&
           crypto_sign_verify_detached(signature.data(), pMessage, nCount, key.data()) == 0;
}

Blake2b512Digest Blake2b512(const uint8_t* pData, size_t nCount) {
    Blake2b512Digest digest{};
    if (SodiumReady()) {
        crypto_generichash(digest.data(), digest.size(), pData, nCount, nullptr, 0);
    }
    return digest;
}

} // namespace fwup
