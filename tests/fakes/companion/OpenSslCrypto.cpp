#include "OpenSslCrypto.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

bool OpenSslCrypto::Sha256(const uint8_t* data, size_t size, Sha256Digest& digest) {
    unsigned int length = 0;
    return EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) == 1 &&
           length == digest.size();
}

bool OpenSslCrypto::VerifySignature(const std::vector<uint8_t>& publicKey, const uint8_t* data,
                                    size_t size, const std::vector<uint8_t>& signature) {
    BIO* bio = BIO_new_mem_buf(publicKey.data(), static_cast<int>(publicKey.size()));
    if (!bio)
        return false;
    EVP_PKEY* key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!key)
        return false;
    bool ok = false;
    if (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA && EVP_PKEY_get_bits(key) >= 3072) {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_PKEY_CTX* pctx = nullptr;
        ok = ctx && EVP_DigestVerifyInit(ctx, &pctx, EVP_sha256(), nullptr, key) == 1 &&
             EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
             EVP_DigestVerify(ctx, signature.data(), signature.size(), data, size) == 1;
        EVP_MD_CTX_free(ctx);
    }
    EVP_PKEY_free(key);
    return ok;
}
