// The update cryptography port on OpenSSL, for the native tests: the same checks
// the library makes with CryptoAPI, on real keys and signatures from the tool.
#pragma once

#include "UpdateCrypto.h"

class OpenSslCrypto : public UpdateCrypto {
  public:
    bool Sha256(const uint8_t* data, size_t size, Sha256Digest& digest) override;
    bool VerifySignature(const std::vector<uint8_t>& publicKey, const uint8_t* data, size_t size,
                         const std::vector<uint8_t>& signature) override;
};
