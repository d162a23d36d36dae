#pragma once

// Ed25519 signatures over OpenSSL's one-shot digest-sign interface (present
// since OpenSSL 1.1.1). Keys travel as PEM text: PKCS#8 for the private key,
// SubjectPublicKeyInfo for the public one.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using Ed25519Signature = std::array<uint8_t, 64>;

struct Ed25519KeyPair {
    std::string privatePem;
    std::string publicPem;
};

std::optional<Ed25519KeyPair> GenerateEd25519KeyPair();
// The public half of a private key.
std::optional<std::string> Ed25519PublicPemOf(std::string_view privatePem);
// nullopt when the key is no Ed25519 private key.
std::optional<Ed25519Signature> SignEd25519(std::string_view privatePem, std::string_view message);
// False for a key that is no Ed25519 public key as well as for a wrong signature.
bool VerifyEd25519(std::string_view publicPem, std::string_view message,
                   const Ed25519Signature& signature);
