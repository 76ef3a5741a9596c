// The maker's upgrade signatures: ECDSA on P-256 over SHA-256, as `openssl dgst -sha256 -sign`
// writes them (DER: SEQUENCE { r INTEGER, s INTEGER }).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// r and s as 32 bytes each, big-endian, one after the other: the form Windows' BCrypt verifies.
using RawP256Signature = std::array<std::uint8_t, 64>;

// Strict: one SEQUENCE of exactly two positive INTEGERs in minimal DER, each at most 33 bytes
// (a leading zero byte only before a byte with its top bit set), and nothing after it.
std::optional<RawP256Signature> DerToRawP256Signature(std::string_view der);

// A SHA-256 digest written as 64 hexadecimal digits (either case); blanks and line ends around
// it are allowed, nothing else.
std::optional<std::array<std::uint8_t, 32>> ParseSha256Hex(std::string_view text);
