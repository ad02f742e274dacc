// A build without libsodium: no signature verifies, and callers are told why.
#include "device/SignatureBackend.h"

namespace fwup {

bool SignatureBackendAvailable() {
    return false;
}

bool VerifyEd25519(const Ed25519Signature&, const uint8_t*, size_t, const Ed25519PublicKey&) {
    return false;
}

Blake2b512Digest Blake2b512(const uint8_t*, size_t) {
    return {};
}

} // namespace fwup
