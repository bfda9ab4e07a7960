// Signed updates on CryptoAPI: SHA-256 and RSA PKCS#1 v1.5 signature checks under
// the AES provider (the only built-in provider type that knows SHA-256).
#include "ScopedHandle.h"
#include "UpdateCrypto.h"
#include "Win32Ports.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>

namespace {

constexpr DWORD kMinimumKeyBits = 3072;

// A verify-only context of the AES provider; none when it cannot be had.
ScopedCryptProvider AcquireProvider() {
    HCRYPTPROV handle = 0;
    if (!CryptAcquireContextA(&handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return ScopedCryptProvider();
    return ScopedCryptProvider(handle);
}

bool HashData(HCRYPTHASH hash, const uint8_t* data, size_t size) {
    while (size > 0) {
        const DWORD part = size > 0x10000000 ? 0x10000000 : DWORD(size);
        if (!CryptHashData(hash, data, part, 0))
            return false;
        data += part;
        size -= part;
    }
    return true;
}

// The key file as embedded: PEM ("-----BEGIN PUBLIC KEY-----") or plain DER.
bool DecodeKeyFile(const std::vector<uint8_t>& file, std::vector<uint8_t>& der) {
    DWORD size = 0;
    const char* text = reinterpret_cast<const char*>(file.data());
    if (CryptStringToBinaryA(text, DWORD(file.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                             nullptr, nullptr) &&
        size > 0) {
        der.resize(size);
        return CryptStringToBinaryA(text, DWORD(file.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                    &size, nullptr, nullptr) != FALSE;
    }
    der = file;
    return !der.empty();
}

class WinUpdateCrypto : public UpdateCrypto {
  public:
    bool Sha256(const uint8_t* data, size_t size, Sha256Digest& digest) override {
        ScopedCryptProvider provider = AcquireProvider();
        ScopedCryptHash hash;
        if (!provider || !CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Receive()))
            return false;
        DWORD length = DWORD(digest.size());
        return HashData(hash.Get(), data, size) &&
               CryptGetHashParam(hash.Get(), HP_HASHVAL, digest.data(), &length, 0) &&
               length == digest.size();
    }

    bool VerifySignature(const std::vector<uint8_t>& publicKey, const uint8_t* data, size_t size,
                         const std::vector<uint8_t>& signature) override {
        std::vector<uint8_t> der;
        if (publicKey.empty() || !DecodeKeyFile(publicKey, der))
            return false;
        CERT_PUBLIC_KEY_INFO* info = nullptr;
        DWORD infoSize = 0;
        if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(),
                                 DWORD(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                                 &infoSize))
            return false;
        ScopedCryptProvider provider = AcquireProvider();
        ScopedCryptKey key;
        const bool rsa =
            info->Algorithm.pszObjId && std::string(info->Algorithm.pszObjId) == szOID_RSA_RSA;
        const bool imported =
            rsa && provider &&
            CryptImportPublicKeyInfo(provider.Get(), X509_ASN_ENCODING, info, key.Receive());
        LocalFree(info);
        if (!imported)
            return false;

        DWORD bits = 0, length = sizeof(bits);
        if (!CryptGetKeyParam(key.Get(), KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &length, 0) ||
            bits < kMinimumKeyBits || signature.size() != bits / 8)
            return false;

        ScopedCryptHash hash;
        if (!CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Receive()) ||
            !HashData(hash.Get(), data, size))
            return false;
        // CryptoAPI takes the signature least significant byte first.
        std::vector<uint8_t> reversed(signature.rbegin(), signature.rend());
        return CryptVerifySignatureA(hash.Get(), reversed.data(), DWORD(reversed.size()), key.Get(),
                                     nullptr, 0) != FALSE;
    }
};

} // namespace

std::unique_ptr<UpdateCrypto> CreateWin32UpdateCrypto() {
    return std::make_unique<WinUpdateCrypto>();
}
