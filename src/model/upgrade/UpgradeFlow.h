// The upgrade dialog's logic, the same on every system: the check (fetch the page, compare the
// version, answer or offer), and on Yes the download, its checks and the installation, each
// refusal with its sentence. The dialog shows and forwards (UpgradeView); the network
// (UpgradeFetch) and the system's own part of an installation (UpgradeInstaller) are seams.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/CStringList.h"
#include "core/net/FetchError.h"
#include "core/upgrade/UpgradePage.h"
#include "core/upgrade/UpgradeRefusal.h"

// One message box of the upgrade dialog.
struct UpgradeMessage {
    enum class Icon { kNone, kInformation, kWarning };
    std::string text;
    std::string caption;
    bool yesNo = false;  // Yes and No; otherwise OK only
    Icon icon = Icon::kNone;
};

// What the dialog shows for the flow.
class UpgradeView {
public:
    virtual ~UpgradeView() = default;
    // A modal box owned by the dialog; true when the user answered Yes.
    virtual bool ShowMessage(const UpgradeMessage& message) = 0;
    // The status window, under `title` (empty: its own title "Checking for any upgrades ..").
    virtual void ShowProgress(const std::string& title) = 0;
    virtual void SetProgressText(const std::string& text) = 0;
    // Sets the status line and returns once it is on the screen: the caller then blocks.
    virtual void PaintProgress(const std::string& text) = 0;
    virtual void CloseProgress() = 0;
    // IsChecking() or CanCheck() changed: the buttons follow.
    virtual void ShowCheckState() = 0;
    // Ends the dialog as Close does.
    virtual void CloseDialog() = 0;
};

// One transfer: text lines (empty `file`) or a file.
struct UpgradeFetchResult {
    bool succeeded = false;
    EFetchError error = EFetchError::None;
    long httpStatus = 0;
    std::string failure;  // plain words; empty after success
    CStringList lines;
};
class UpgradeFetch {
public:
    virtual ~UpgradeFetch() = default;
    virtual UpgradeFetchResult Fetch(const std::string& url, const std::string& file,
                                     const std::function<void(const std::string&)>& progress) = 0;
};

using Sha256Bytes = std::array<std::uint8_t, 32>;

// The system's part of an upgrade: where the download goes, how the maker's signature over it
// and its own version are checked, and how it replaces the running program.
class UpgradeInstaller {
public:
    virtual ~UpgradeInstaller() = default;
    // Asked when a newer version is offered. False: this build could install none, and the
    // offer says so in place of its question.
    virtual bool CanInstall() = 0;
    // Before anything is downloaded: a fresh folder of its own for the download (and, where
    // it was not asked before the offer, the maker's key). kNone, or why not.
    virtual UpgradeRefusal Prepare() = 0;
    // The download's path in that folder; its signature goes beside it with ".sig" appended.
    virtual std::string DownloadPath() const = 0;
    // The download's SHA-256, read from a copy that nothing can change until it has run.
    virtual std::optional<Sha256Bytes> DownloadDigest() = 0;
    // The maker's signature (DER bytes) over the download, then what it says it is against the
    // version offered and the version that runs.
    virtual UpgradeRefusal CheckSigned(const std::string& signature, float offered,
                                       float running) = 0;
    // The status line while Install runs.
    virtual std::string InstallStatus() const = 0;
    // Replaces the running version; kNone once the new one is installed.
    virtual UpgradeRefusal Install() = 0;
    // Told once it is installed, before the process ends; empty: nothing is told.
    virtual std::string InstalledMessage() const = 0;
    // Removes the folder with all it holds.
    virtual void Discard() = 0;
    // Ends the process after an installation: nothing else of this program may run.
    virtual void EndProcess() = 0;
};

struct CalendarDate {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
};

class UpgradeFlow {
public:
    // `downloadPage`: where a manual upgrade can be fetched, named in the refusals.
    UpgradeFlow(UpgradeView& view, UpgradeFetch& fetch, UpgradeInstaller& installer,
                std::string downloadPage);

    void SetUpgradeInfo(const std::string& productName, float version, const std::string& url);
    // Another network (tests).
    void SetFetch(UpgradeFetch& fetch) { m_fetch = &fetch; }
    // The dialog opens: OK may start a check again.
    void Open();
    // The OK press: the check, and on Yes DownloadAndInstall. Ignored while a check runs and
    // after one in this opening.
    void Check();
    // Downloads the file behind `link` with its signature, checks both, installs it and ends
    // the process; returns only when the upgrade did not go on (the user was told why).
    void DownloadAndInstall(std::string link);

    bool IsChecking() const { return m_bChecking; }
    bool CanCheck() const { return !m_bChecking && !m_bChecked; }
    // Whether a check was made in this opening (OK stays off, the focus on Close).
    bool IsChecked() const { return m_bChecked; }
    const std::string& ProductName() const { return m_strProductName; }
    const UpgradePageInfo& PageInfo() const { return m_page; }
    // The date of the last check as month, day and year ("3 9 2006"); empty before any.
    std::string UpgradeDateText() const;
    // Today's date (tests set another clock).
    void SetClock(std::function<CalendarDate()> today) { m_today = std::move(today); }

private:
    bool FetchPage(std::string& why);
    // Asks whether to upgrade; `bClose` when the user said No.
    void Offer(bool& bClose);
    void EndCheck(bool checked);
    void Refuse(UpgradeRefusal refusal);
    // The download, its digest, its signature and the system's checks.
    UpgradeRefusal Download(const std::string& link);
    UpgradeRefusal FetchSignature(const std::string& link, std::string& signature);

    UpgradeView& m_view;
    UpgradeFetch* m_fetch;
    UpgradeInstaller& m_installer;
    std::string m_strDownloadPage;
    float m_fVersion = 0.0f;
    std::string m_strUpgradeUrl;
    std::string m_strProductName;
    UpgradePageInfo m_page;
    bool m_bChecking = false;
    bool m_bChecked = false;
    std::optional<CalendarDate> m_dtLastCheck;
    std::function<CalendarDate()> m_today;
};
