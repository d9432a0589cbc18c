// The simulated rack's built-in RSA key pair, PEM text.
#pragma once

namespace korusim {

extern const char kP8080PrivateKeyPem[]; // PKCS #8 private key
extern const char kP8080PublicKeyPem[];  // SubjectPublicKeyInfo, 451 characters

} // namespace korusim
