// The maker's key of this build and the version resources of programs.
#include "windows/upgrade/UpgradeGate.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/upgrade/EcdsaSignature.h"
#include "core/upgrade/UpgradePage.h"
#include "windows/upgrade/NetConfig.h"

std::optional<P256PublicPoint> BuiltInUpgradeKey() {
    return P256PointFromHex(VANTREL_UPGRADE_KEY_HEX);
}

std::optional<P256PublicPoint> P256PointFromHex(const std::string& hex) {
    if (hex.size() != 130) return std::nullopt;
    // Two digest-sized halves and the leading 04, read with the digest reader.
    const auto x = ParseSha256Hex(hex.substr(2, 64));
    const auto y = ParseSha256Hex(hex.substr(66, 64));
    if (hex.substr(0, 2) != "04" || !x || !y) return std::nullopt;
    P256PublicPoint key{};
    key[0] = 0x04;
    std::copy(x->begin(), x->end(), key.begin() + 1);
    std::copy(y->begin(), y->end(), key.begin() + 33);
    return key;
}

std::optional<SetupVersion> ProductVersionOf(const std::wstring& path) {
    DWORD unused = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &unused);
    if (size == 0) return std::nullopt;
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof *info || info->dwSignature != VS_FFI_SIGNATURE) {
        return std::nullopt;
    }
    return SetupVersion{HIWORD(info->dwProductVersionMS), LOWORD(info->dwProductVersionMS)};
}

float RunningVersion() {
    std::wstring path(32768, L'\0');
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    const std::optional<SetupVersion> version = ProductVersionOf(path);
    if (!version) return 1.0f;
    return ReadVersionNumber(std::to_string(version->major) + "." + std::to_string(version->minor));
}
