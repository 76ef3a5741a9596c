// The check, the offer and the verified installation, in the order the user meets them.
#include "model/upgrade/UpgradeFlow.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <utility>

#include "core/upgrade/EcdsaSignature.h"

namespace {
using Icon = UpgradeMessage::Icon;

CalendarDate LocalToday() {
    const std::time_t now = std::time(nullptr);
    // Only the user-interface thread asks.
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) return {};
    return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday};
}

// The maker's detached signature of a download: the file's bytes when it holds 1 to 256 of
// them (larger than any signature of the maker's), nothing otherwise.
std::optional<std::string> ReadSignature(const std::string& path) {
    std::ifstream file(std::filesystem::path(std::u8string(path.begin(), path.end())),
                       std::ios::binary);
    if (!file) return std::nullopt;
    std::string bytes(257, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    if (bytes.empty() || bytes.size() > 256) return std::nullopt;
    return bytes;
}
}  // namespace

UpgradeFlow::UpgradeFlow(UpgradeView& view, UpgradeFetch& fetch, UpgradeInstaller& installer,
                         std::string downloadPage)
    : m_view(view),
      m_fetch(&fetch),
      m_installer(installer),
      m_strDownloadPage(std::move(downloadPage)),
      m_today(LocalToday) {}

void UpgradeFlow::SetUpgradeInfo(const std::string& productName, float version,
                                 const std::string& url) {
    m_strProductName = productName;
    m_fVersion = version;
    m_strUpgradeUrl = url;
}

void UpgradeFlow::Open() {
    // Each opening starts idle, whatever the last one ended with.
    if (!m_bChecking) m_bChecked = false;
}

std::string UpgradeFlow::UpgradeDateText() const {
    if (!m_dtLastCheck) return {};
    // Month, day and year without leading zeros, as "3 9 2006".
    return std::to_string(m_dtLastCheck->month) + " " + std::to_string(m_dtLastCheck->day) + " " +
           std::to_string(m_dtLastCheck->year);
}

bool UpgradeFlow::FetchPage(std::string& why) {
    const UpgradeFetchResult page = m_fetch->Fetch(m_strUpgradeUrl, std::string(), {});
    // A page that did not arrive whole is not read at all.
    ParseUpgradePage(page.succeeded ? page.lines : CStringList{}, m_page);
    why = page.failure;
    return page.succeeded;
}

void UpgradeFlow::Check() {
    // One check at a time and one per opening: a press that still arrives (Enter, a queued
    // click) is ignored.
    if (!CanCheck()) return;
    m_bChecking = true;
    m_view.ShowCheckState();

    m_view.ShowProgress(std::string());
    std::string why;
    const bool fetched = FetchPage(why);
    m_view.CloseProgress();

    if (!fetched || !m_page.bVersionFound) {
        // Not knowing is not the same as being up to date: the user may try again.
        const std::string reason =
            !fetched ? (why.empty() ? std::string("the upgrade page could not be fetched") : why)
                     : std::string("the upgrade page does not say which version is current");
        EndCheck(false);
        m_view.ShowMessage({m_strProductName + " could not check for an upgrade: " + reason +
                                ".\n\nPlease try again later.",
                            m_strProductName, false, Icon::kWarning});
        return;
    }
    bool bClose = false;
    if (m_page.fNewVersion > m_fVersion) {
        Offer(bClose);
    } else {
        char version[32];
        std::snprintf(version, sizeof version, "%.2f", static_cast<double>(m_fVersion));
        m_view.ShowMessage({std::string("You have the most recent version v") + version +
                                ".\nNo upgrade is available.",
                            m_strProductName, false, Icon::kNone});
    }
    EndCheck(true);
    if (bClose) m_view.CloseDialog();
}

void UpgradeFlow::EndCheck(bool checked) {
    m_bChecking = false;
    if (checked) {
        m_bChecked = true;
        m_dtLastCheck = m_today();
    }
    m_view.ShowCheckState();
}

void UpgradeFlow::Offer(bool& bClose) {
    const std::string offer = "A new upgrade of " + m_strProductName +
                              " is available for download.\n\nDescription:\n\n" +
                              m_page.strDescription + "\n\n";
    const std::string caption = "A new upgrade is available.";
    // A build that could install no upgrade says so now, not after the user said Yes.
    if (!m_installer.CanInstall()) {
        m_view.ShowMessage(
            {offer + NoMakerKeyOfferMessage(m_strDownloadPage), caption, false, Icon::kWarning});
    } else if (m_view.ShowMessage({offer + "Would you like to download the upgrade now?", caption,
                                   true, Icon::kNone})) {
        DownloadAndInstall(m_page.strDownloadLink);
    } else {
        bClose = true;
    }
}

void UpgradeFlow::Refuse(UpgradeRefusal refusal) {
    // A missing link or a failed transfer is no sign of tampering: told without a warning.
    const bool bWarning =
        refusal != UpgradeRefusal::kNoLink && refusal != UpgradeRefusal::kDownloadFailed;
    m_view.ShowMessage({RefusalMessage(refusal, m_strDownloadPage), "Vantrel", false,
                        bWarning ? Icon::kWarning : Icon::kInformation});
}

void UpgradeFlow::DownloadAndInstall(std::string link) {
    link = TrimmedLine(link);
    UpgradeRefusal refusal = CheckBeforeDownload(m_strUpgradeUrl, link, m_page.strSha256);
    // Nothing is downloaded that could never be installed.
    if (refusal == UpgradeRefusal::kNone) refusal = m_installer.Prepare();
    if (refusal != UpgradeRefusal::kNone) {
        Refuse(refusal);
        return;
    }
    m_view.ShowProgress("Upgrading Software");
    refusal = Download(link);
    if (refusal == UpgradeRefusal::kNone) {
        m_view.PaintProgress(m_installer.InstallStatus());
        refusal = m_installer.Install();
    }
    m_installer.Discard();
    if (refusal != UpgradeRefusal::kNone) {
        // Told while the status window still stands.
        Refuse(refusal);
        m_view.CloseProgress();
        return;
    }
    m_view.CloseProgress();
    const std::string installed = m_installer.InstalledMessage();
    if (!installed.empty()) m_view.ShowMessage({installed, "Vantrel", false, Icon::kInformation});
    m_installer.EndProcess();
}

UpgradeRefusal UpgradeFlow::Download(const std::string& link) {
    const UpgradeFetchResult download =
        m_fetch->Fetch(link, m_installer.DownloadPath(),
                       [this](const std::string& text) { m_view.SetProgressText(text); });
    if (!download.succeeded) return UpgradeRefusal::kDownloadFailed;
    const std::optional<Sha256Bytes> digest = m_installer.DownloadDigest();
    if (!digest) return UpgradeRefusal::kDownloadFailed;
    if (ParseSha256Hex(m_page.strSha256) != digest) return UpgradeRefusal::kDigestMismatch;
    std::string signature;
    const UpgradeRefusal refusal = FetchSignature(link, signature);
    if (refusal != UpgradeRefusal::kNone) return refusal;
    return m_installer.CheckSigned(signature, m_page.fNewVersion, m_fVersion);
}

UpgradeRefusal UpgradeFlow::FetchSignature(const std::string& link, std::string& signature) {
    // The maker's signature lies beside the download, and comes the same way.
    const std::string path = m_installer.DownloadPath() + ".sig";
    const UpgradeFetchResult fetched = m_fetch->Fetch(link + ".sig", path, {});
    if (!fetched.succeeded) {
        // A server that answered, but not with a signature (a 404, an error page, nothing), has
        // none to give: that is no network problem, and trying again will not help.
        const EFetchError error = fetched.error;
        const bool answered =
            fetched.httpStatus != 0 &&
            (error == EFetchError::None || error == EFetchError::HtmlPage ||
             error == EFetchError::EmptyBody || error == EFetchError::RedirectFailed);
        return answered ? UpgradeRefusal::kSignatureMissing : UpgradeRefusal::kDownloadFailed;
    }
    const std::optional<std::string> bytes = ReadSignature(path);
    if (!bytes) return UpgradeRefusal::kBadSignature;
    signature = *bytes;
    return UpgradeRefusal::kNone;
}
