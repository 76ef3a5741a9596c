// DER signatures to raw r||s, and digests from their hexadecimal text.
#include "core/upgrade/EcdsaSignature.h"

#include <cstddef>

namespace {

// Reads one INTEGER at `at` into out (32 bytes, right-aligned); advances `at`.
bool ReadInteger(std::string_view der, std::size_t& at, std::uint8_t* out) {
    if (der.size() - at < 2 || static_cast<std::uint8_t>(der[at]) != 0x02) return false;
    const std::size_t length = static_cast<std::uint8_t>(der[at + 1]);
    at += 2;
    if (length == 0 || length > 33 || der.size() - at < length) return false;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(der[at + i]); };
    if (byte(0) & 0x80) return false;                                   // negative
    if (length > 1 && byte(0) == 0 && !(byte(1) & 0x80)) return false;  // not minimal
    if (length == 33 && byte(0) != 0) return false;                     // beyond 256 bits
    bool bZero = true;
    const std::size_t skip = length == 33 ? 1 : 0;
    for (std::size_t i = skip; i < length; ++i) {
        out[32 - (length - skip) + (i - skip)] = byte(i);
        if (byte(i) != 0) bZero = false;
    }
    at += length;
    return !bZero;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<RawP256Signature> DerToRawP256Signature(std::string_view der) {
    // Short-form length only: a signature of two 33-byte integers takes 70 bytes.
    if (der.size() < 2 || static_cast<std::uint8_t>(der[0]) != 0x30) return std::nullopt;
    const std::size_t length = static_cast<std::uint8_t>(der[1]);
    if (length >= 0x80 || length != der.size() - 2) return std::nullopt;
    RawP256Signature raw{};
    std::size_t at = 2;
    if (!ReadInteger(der, at, raw.data()) || !ReadInteger(der, at, raw.data() + 32) ||
        at != der.size())
        return std::nullopt;
    return raw;
}

std::optional<std::array<std::uint8_t, 32>> ParseSha256Hex(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.size() != 64) return std::nullopt;
    std::array<std::uint8_t, 32> digest{};
    for (std::size_t i = 0; i < 32; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}
