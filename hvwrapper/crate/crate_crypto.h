// RSA encryption of a login password with a device's public key (PEM text),
// PKCS #1 v1.5 padding, through libcrypto's public-key interface. No state;
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>

typedef struct evp_pkey_st EVP_PKEY;

namespace koruhv {

// Reads a PEM public key from NUL-terminated text; null when unreadable.
EVP_PKEY *Crate_ReadPublicKey(const char *pem);
// Prints libcrypto's error queue to standard error.
void Crate_CryptoFailure();

// true with *out (malloc'ed, caller frees) and *outLen; false on any
// failure (key unreadable, password too long for the key, no memory), with
// nothing allocated.
bool Crate_EncryptPassword(const char *pem, const uint8_t *password, size_t passwordLen, uint8_t **out,
                           size_t *outLen);

} // namespace koruhv
