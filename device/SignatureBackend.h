#pragma once
// The primitives a minisign signature needs, behind one seam: libsodium where
// the build has it, otherwise a backend that can check nothing (and says so, so
// that a required signature is refused rather than skipped).

#include <array>
#include <cstddef>
#include <cstdint>

namespace fwup {

using Ed25519Signature = std::array<uint8_t, 64>;
using Ed25519PublicKey = std::array<uint8_t, 32>;
using Blake2b512Digest = std::array<uint8_t, 64>;

// True when this build can check signatures at all.
bool SignatureBackendAvailable();
// True when signature is key's Ed25519 signature of the nCount bytes at pMessage.
// Always false without a backend.
bool VerifyEd25519(const Ed25519Signature& signature, const uint8_t* pMessage, size_t nCount,
                   const Ed25519PublicKey& key);
// BLAKE2b with a 64-byte output and no key (minisign's prehash); zeros without a backend.
Blake2b512Digest Blake2b512(const uint8_t* pData, size_t nCount);

} // namespace fwup
