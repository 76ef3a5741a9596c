// The setup's folder, its checks and the run of the old uninstaller and the new setup.
#include "windows/upgrade/SetupInstaller.h"

// After windows.h, which SetupInstaller.h includes.
#include <sddl.h>

#include <utility>

#include "core/upgrade/UpgradePage.h"
#include "platform/system/Elevation_win.h"
#include "platform/system/ProcessTree_win.h"
#include "platform/system/WideText_win.h"
#include "windows/upgrade/UpgradeGate.h"

// A download's folder, made afresh and removed with what it holds. The window's (it runs as the
// user) is in the user's temporary folder. The elevated step's is below the system's temporary
// folder (%SystemRoot%\Temp, where other accounts may make folders of their own but cannot
// change or remove anyone else's), with an access list for Administrators and SYSTEM only that
// nothing is inherited into.
class CUpgradeFolder {
public:
    explicit CUpgradeFolder(bool adminOnly) {
        wchar_t base[MAX_PATH];
        const UINT length = adminOnly ? ::GetSystemWindowsDirectoryW(base, MAX_PATH)
                                      : ::GetTempPathW(MAX_PATH, base);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (length == 0 || length >= MAX_PATH ||
            (adminOnly &&
             !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                 L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr))) {
            return;
        }
        SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
        std::wstring prefix(base, length);
        if (adminOnly) prefix += L"\\Temp";
        if (prefix.back() == L'\\') prefix.pop_back();
        prefix += L"\\Vantrel-upgrade-" + std::to_wstring(::GetCurrentProcessId()) + L"-";
        // Never one that is there already, whoever made it.
        for (unsigned attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            const std::wstring path = prefix + std::to_wstring(::GetTickCount64() + attempt);
            if (::CreateDirectoryW(path.c_str(), descriptor != nullptr ? &security : nullptr))
                m_path = path;
            else if (::GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        if (descriptor != nullptr) ::LocalFree(descriptor);
    }
    ~CUpgradeFolder() {
        if (m_path.empty()) return;
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW((m_path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                    ::DeleteFileW((m_path + L"\\" + found.cFileName).c_str());
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryW(m_path.c_str());
    }
    CUpgradeFolder(const CUpgradeFolder&) = delete;
    CUpgradeFolder& operator=(const CUpgradeFolder&) = delete;

    bool Made() const { return !m_path.empty(); }
    std::wstring File(const char* name) const { return m_path + L"\\" + Utf8ToWide(name); }

private:
    std::wstring m_path;
};

SetupInstaller::SetupInstaller(std::optional<P256PublicPoint> key,
                               std::function<void(int code)> endProcess)
    : m_key(key), m_endProcess(std::move(endProcess)) {}

SetupInstaller::~SetupInstaller() {
    Discard();
}

UpgradeRefusal SetupInstaller::Prepare() {
    if (!m_key) return UpgradeRefusal::kNoKey;
    // A fresh folder: nothing from before can pass for this download. It is checked here so
    // that the user is not asked for the permission in vain, and again by the elevated step.
    m_folder = std::make_unique<CUpgradeFolder>(false);
    if (!m_folder->Made()) {
        m_folder.reset();
        return UpgradeRefusal::kDownloadFailed;
    }
    return UpgradeRefusal::kNone;
}

std::wstring SetupInstaller::SetupPath() const {
    return m_folder ? m_folder->File(kDownloadFile) : std::wstring();
}

std::string SetupInstaller::DownloadPath() const {
    return WideToUtf8(SetupPath());
}

std::optional<Sha256Bytes> SetupInstaller::DownloadDigest() {
    // From its checks until it has run, the setup stays open, shared for reading only: it can be
    // neither changed nor deleted nor renamed meanwhile.
    m_held = ::CreateFileW(SetupPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_held == INVALID_HANDLE_VALUE) return std::nullopt;
    const std::optional<Sha256Digest> digest = Sha256OfFile(DownloadPath());
    if (digest) m_digest = *digest;
    return digest;
}

UpgradeRefusal SetupInstaller::CheckSigned(const std::string& signature, float offered,
                                           float running) {
    if (!m_key || !VerifyP256Signature(m_digest, signature, *m_key))
        return UpgradeRefusal::kBadSignature;
    // The maker signed every setup ever released: an older one must not pass for the offer.
    return CheckSetupVersion(ProductVersionOf(SetupPath()), offered, running);
}

UpgradeRefusal SetupInstaller::Install() {
    // One administrator's step: this program again, elevated, with the download as its source
    // (InstallUpgradeFrom). The download stays held against changes until then.
    const std::optional<DWORD> code =
        RunElevated(::GetActiveWindow(), L"-install-upgrade \"" + SetupPath() + L"\"");
    if (!code) return UpgradeRefusal::kNotAuthorized;
    if (*code > static_cast<DWORD>(UpgradeRefusal::kInstallFailed))
        return UpgradeRefusal::kDownloadFailed;
    return static_cast<UpgradeRefusal>(*code);
}

UpgradeRefusal InstallUpgradeFrom(const std::wstring& download,
                                  const std::optional<P256PublicPoint>& key,
                                  const std::wstring& programFolder, float running) {
    if (!key) return UpgradeRefusal::kNoKey;
    // The caller's file is only a source: copied into a fresh folder that only administrators
    // can write, and nothing is trusted or run before the copy is checked.
    CUpgradeFolder folder(true);
    if (!folder.Made()) return UpgradeRefusal::kDownloadFailed;
    const std::wstring setup = folder.File(kDownloadFile);
    if (!::CopyFileW(download.c_str(), setup.c_str(), TRUE)) return UpgradeRefusal::kDownloadFailed;
    std::string signature;
    const HANDLE sig = ::CreateFileW((download + L".sig").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (sig == INVALID_HANDLE_VALUE) return UpgradeRefusal::kBadSignature;
    char buffer[1024];
    DWORD got = 0;
    if (::ReadFile(sig, buffer, sizeof buffer, &got, nullptr)) signature.assign(buffer, got);
    ::CloseHandle(sig);
    // Held open, shared for reading only, from its check until it has run.
    const HANDLE held = ::CreateFileW(setup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return UpgradeRefusal::kDownloadFailed;
    const std::optional<Sha256Digest> digest = Sha256OfFile(WideToUtf8(setup));
    UpgradeRefusal refusal = UpgradeRefusal::kNone;
    if (!digest || !VerifyP256Signature(*digest, signature, *key)) {
        refusal = UpgradeRefusal::kBadSignature;
    } else {
        // Its own version must be newer than this program's: the maker signed every setup ever
        // released.
        const std::optional<SetupVersion> version = ProductVersionOf(setup);
        const float offered = version ? ReadVersionNumber(std::to_string(version->major) + "." +
                                                          std::to_string(version->minor))
                                      : 0.0f;
        refusal = CheckSetupVersion(version, offered, running);
    }
    if (refusal == UpgradeRefusal::kNone) {
        // The old uninstaller from the program's own folder, then the new setup, each with
        // everything it starts to its end (an NSIS uninstaller hands over to a copy of itself
        // and returns at once). What they end with is theirs to tell.
        const std::wstring uninstaller = programFolder + L"\\" + Utf8ToWide(kUninstallerName);
        if (!programFolder.empty() &&
            ::GetFileAttributesW(uninstaller.c_str()) != INVALID_FILE_ATTRIBUTES) {
            RunProcessTree(QuoteForCommandLine(uninstaller) + Utf8ToWide(kUninstallerArgument),
                           programFolder);
        }
        RunProcessTree(QuoteForCommandLine(setup), programFolder);
    }
    ::CloseHandle(held);
    return refusal;
}

void SetupInstaller::Discard() {
    if (m_held != INVALID_HANDLE_VALUE) ::CloseHandle(m_held);
    m_held = INVALID_HANDLE_VALUE;
    m_folder.reset();
}
