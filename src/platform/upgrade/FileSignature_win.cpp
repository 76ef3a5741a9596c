// SHA-256 and ECDSA P-256 verification through Windows' BCrypt.
#include <windows.h>
// After windows.h.
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "core/upgrade/EcdsaSignature.h"
#include "platform/system/WideText_win.h"
#include "platform/upgrade/FileSignature.h"

namespace {

struct Algorithm {
    BCRYPT_ALG_HANDLE h = nullptr;
    explicit Algorithm(const wchar_t* name) {
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&h, name, nullptr, 0))) h = nullptr;
    }
    ~Algorithm() {
        if (h) ::BCryptCloseAlgorithmProvider(h, 0);
    }
};

struct FileHandle {
    HANDLE h;
    ~FileHandle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};

}  // namespace

std::optional<Sha256Digest> Sha256OfFile(const std::string& path) {
    FileHandle file{::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) return std::nullopt;
    Algorithm sha256(BCRYPT_SHA256_ALGORITHM);
    if (!sha256.h) return std::nullopt;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(sha256.h, &hash, nullptr, 0, nullptr, 0, 0)))
        return std::nullopt;
    std::vector<UCHAR> buffer(256 * 1024);
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash, buffer.data(), got, 0))) {
            ok = false;
            break;
        }
    }
    Sha256Digest digest{};
    if (ok && !BCRYPT_SUCCESS(
                  ::BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        ok = false;
    ::BCryptDestroyHash(hash);
    if (!ok) return std::nullopt;
    return digest;
}

bool VerifyP256Signature(const Sha256Digest& digest, std::string_view der,
                         const P256PublicPoint& key) {
    const std::optional<RawP256Signature> raw = DerToRawP256Signature(der);
    if (!raw || key[0] != 0x04) return false;
    Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa.h) return false;
    // BCRYPT_ECCKEY_BLOB, then X and Y.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::copy_n(reinterpret_cast<const UCHAR*>(&header), sizeof header, blob.data());
    std::copy_n(key.data() + 1, 64, blob.data() + sizeof header);
    BCRYPT_KEY_HANDLE publicKey = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(ecdsa.h, nullptr, BCRYPT_ECCPUBLIC_BLOB, &publicKey,
                                              blob.data(), static_cast<ULONG>(blob.size()), 0)))
        return false;
    Sha256Digest hash = digest;
    RawP256Signature signature = *raw;
    const NTSTATUS status =
        ::BCryptVerifySignature(publicKey, nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                                signature.data(), static_cast<ULONG>(signature.size()), 0);
    ::BCryptDestroyKey(publicKey);
    return BCRYPT_SUCCESS(status);
}
