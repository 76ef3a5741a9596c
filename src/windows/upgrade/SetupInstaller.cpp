// The setup's folder, its checks and the run of the old uninstaller and the new setup.
#include "windows/upgrade/SetupInstaller.h"

// After windows.h, which SetupInstaller.h includes.
#include <sddl.h>

#include <utility>

#include "platform/system/ProcessTree_win.h"
#include "platform/system/WideText_win.h"
#include "windows/upgrade/UpgradeGate.h"

// The download's folder: made afresh below the system's temporary folder (%SystemRoot%\Temp,
// where other accounts may make folders of their own but cannot change or remove anyone else's),
// with an access list for Administrators and SYSTEM only that nothing is inherited into; removed
// with what it holds.
class CUpgradeFolder {
public:
    CUpgradeFolder() {
        wchar_t windows[MAX_PATH];
        const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (length == 0 || length >= MAX_PATH ||
            !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
            return;
        }
        SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
        const std::wstring prefix = std::wstring(windows, length) + L"\\Temp\\Vantrel-upgrade-" +
                                    std::to_wstring(::GetCurrentProcessId()) + L"-";
        // Never one that is there already, whoever made it.
        for (unsigned attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            const std::wstring path = prefix + std::to_wstring(::GetTickCount64() + attempt);
            if (::CreateDirectoryW(path.c_str(), &security))
                m_path = path;
            else if (::GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        ::LocalFree(descriptor);
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

SetupInstaller::SetupInstaller(std::optional<P256PublicPoint> key, std::wstring programFolder,
                               std::function<void(int code)> endProcess)
    : m_key(key),
      m_strProgramFolder(std::move(programFolder)),
      m_endProcess(std::move(endProcess)) {}

SetupInstaller::~SetupInstaller() {
    Discard();
}

UpgradeRefusal SetupInstaller::Prepare() {
    if (!m_key) return UpgradeRefusal::kNoKey;
    // A fresh folder that only administrators can write: nobody else can put a file in place of
    // the setup there, and nothing from before can pass for this download.
    m_folder = std::make_unique<CUpgradeFolder>();
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
    // The old uninstaller from the program's own folder, then the new setup, each with everything
    // it starts to its end (an NSIS uninstaller hands over to a copy of itself and returns at
    // once). What they end with is theirs to tell.
    const std::wstring uninstaller = m_strProgramFolder + L"\\" + Utf8ToWide(kUninstallerName);
    if (!m_strProgramFolder.empty() &&
        ::GetFileAttributesW(uninstaller.c_str()) != INVALID_FILE_ATTRIBUTES) {
        RunProcessTree(QuoteForCommandLine(uninstaller) + Utf8ToWide(kUninstallerArgument),
                       m_strProgramFolder);
    }
    RunProcessTree(QuoteForCommandLine(SetupPath()), m_strProgramFolder);
    return UpgradeRefusal::kNone;
}

void SetupInstaller::Discard() {
    if (m_held != INVALID_HANDLE_VALUE) ::CloseHandle(m_held);
    m_held = INVALID_HANDLE_VALUE;
    m_folder.reset();
}
