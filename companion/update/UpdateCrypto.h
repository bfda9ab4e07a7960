// Port: the platform's own cryptography for signed updates (CryptoAPI in the
// library). Only two operations are needed: SHA-256 of a byte range and the check
// of an RSA PKCS#1 v1.5 signature with SHA-256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

using Sha256Digest = std::array<uint8_t, 32>;

class UpdateCrypto {
  public:
    virtual ~UpdateCrypto() = default;
    virtual bool Sha256(const uint8_t* data, size_t size, Sha256Digest& digest) = 0;
    // `publicKey` is the operator's key file as embedded in the library (PEM
    // "PUBLIC KEY", i.e. SubjectPublicKeyInfo); `signature` is big-endian as
    // PKCS#1 writes it. False for any malformed input.
    virtual bool VerifySignature(const std::vector<uint8_t>& publicKey, const uint8_t* data,
                                 size_t size, const std::vector<uint8_t>& signature) = 0;
};
