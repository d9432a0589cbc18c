#include "crate_crypto.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>

namespace koruhv {

EVP_PKEY *Crate_ReadPublicKey(const char *pem)
{
    if (!pem)
        return nullptr;
    BIO *bio = BIO_new_mem_buf(pem, -1);
    if (!bio)
        return nullptr;
    EVP_PKEY *key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return key;
}

void Crate_CryptoFailure()
{
    ERR_print_errors_fp(stderr);
}

bool Crate_EncryptPassword(const char *pem, const uint8_t *password, size_t passwordLen, uint8_t **out,
                           size_t *outLen)
{
    *out = nullptr;
    *outLen = 0;
    static const uint8_t kEmpty[1] = {0};
    if (!password)
        password = kEmpty, passwordLen = 0;
    EVP_PKEY *key = Crate_ReadPublicKey(pem);
    EVP_PKEY_CTX *ctx = key ? EVP_PKEY_CTX_new(key, nullptr) : nullptr;
    uint8_t *buf = nullptr;
    size_t len = 0;
    // The default padding of RSA encryption is PKCS #1 v1.5.
    bool ok = ctx && EVP_PKEY_encrypt_init(ctx) > 0 &&
              EVP_PKEY_encrypt(ctx, nullptr, &len, password, passwordLen) > 0 && len > 0 &&
              (buf = static_cast<uint8_t *>(std::malloc(len))) != nullptr &&
              EVP_PKEY_encrypt(ctx, buf, &len, password, passwordLen) > 0;
    if (!ok) {
        Crate_CryptoFailure();
        std::free(buf);
        buf = nullptr;
        len = 0;
    }
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    *out = buf;
    *outLen = len;
    return ok;
}

} // namespace koruhv
