// A downloaded file's SHA-256 digest and the maker's signature over it (ECDSA P-256 with
// SHA-256). Windows: BCrypt (FileSignature_win.cpp); the Linux program checks its packages in
// the root-side upgrade helper with OpenSSL.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

using Sha256Digest = std::array<std::uint8_t, 32>;
// The maker's public key: the uncompressed point 04 || X || Y.
using P256PublicPoint = std::array<std::uint8_t, 65>;

// The digest of the file's bytes; nothing when the file cannot be read whole.
std::optional<Sha256Digest> Sha256OfFile(const std::string& path);

// True only when `der` (as `openssl dgst -sha256 -sign` writes it) is a valid signature by `key`
// over a message whose SHA-256 digest is `digest`.
bool VerifyP256Signature(const Sha256Digest& digest, std::string_view der,
                         const P256PublicPoint& key);
