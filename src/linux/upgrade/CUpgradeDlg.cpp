// The upgrade dialog of template 104: the check, the offer and the verified installation.
#include "linux/upgrade/CUpgradeDlg.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QLabel>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>

#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "linux/upgrade/CUpgradeProgressDlg.h"
#include "linux/upgrade/NetConfig.h"
#include "linux/upgrade/PackageInstall.h"
#include "platform/prefs/CRegistryStore.h"
#include "platform/upgrade/PackageCheck_unix.h"

namespace {
QString FromBytes(const std::string& text) {
    return QString::fromStdString(text);
}
}  // namespace

CUpgradeDlg::CUpgradeDlg(QWidget* parent)
    : QDialog(parent), m_strHelper(UpgradeHelperPath()), m_strPkexec(kPkexecPath) {
    setObjectName(QStringLiteral("upgradeDialog"));
    setWindowTitle(QStringLiteral("Check for Upgrade"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits units(font());
    setFixedSize(units.ToPixelsX(160), units.ToPixelsY(58));

    // Created in template order, which is also the tab order.
    m_btnOK = new CXPButton(QStringLiteral("&OK"), this);
    SetControlId(m_btnOK, 1);
    m_btnOK->setObjectName(QStringLiteral("okButton"));
    // Enter starts the check, as in any dialog whose OK is its default command.
    m_btnOK->setAutoDefault(false);
    m_btnOK->setDefault(true);
    units.Place(m_btnOK, 21, 37, 50, 14);

    m_btnClose = new CXPButton(QStringLiteral("&Close"), this);
    SetControlId(m_btnClose, 2);
    m_btnClose->setObjectName(QStringLiteral("closeButton"));
    m_btnClose->setAutoDefault(false);
    units.Place(m_btnClose, 77, 37, 50, 14);

    auto* question = new QLabel(
        QStringLiteral("Would you like to check for an upgrade of this software?"), this);
    question->setObjectName(QStringLiteral("questionText"));
    question->setWordWrap(true);
    question->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    units.Place(question, 21, 7, 117, 18);

    connect(m_btnOK, &QPushButton::clicked, this, &CUpgradeDlg::accept);
    connect(m_btnClose, &QPushButton::clicked, this, &CUpgradeDlg::reject);
}

CUpgradeDlg::~CUpgradeDlg() {
    if (m_dtLastCheck.isValid()) SaveUpgradeDate();
}

std::string CUpgradeDlg::UpgradePageUrl() {
    // Only the build chooses it: no environment may point the program at another server.
    return VANTREL_UPGRADE_URL;
}

void CUpgradeDlg::SetUpgradeInfo(const std::string& productName, float version,
                                 const std::string& upgradeUrl) {
    m_strProductName = productName;
    m_fVersion = version;
    m_strUpgradeUrl = upgradeUrl;
}

void CUpgradeDlg::showEvent(QShowEvent* event) {
    // Each opening starts idle, whatever the last one ended with.
    if (!m_bChecking) {
        m_btnOK->setEnabled(true);
        m_btnClose->setEnabled(true);
        m_btnOK->setFocus();
    }
    QDialog::showEvent(event);
}

void CUpgradeDlg::accept() {
    OnOK();
}

void CUpgradeDlg::reject() {
    OnCancel();
}

void CUpgradeDlg::OnCancel() {
    // Closing in the middle of a check would leave it running against a closed dialog.
    if (m_bChecking) return;
    done(QDialog::Rejected);
}

void CUpgradeDlg::ParseUpgradePage(const CStringList& lines) {
    ::ParseUpgradePage(lines, m_page);
}

CUpgradeProgressDlg* CUpgradeDlg::ShowProgressWindow(const QString& title) {
    CloseProgressWindow();
    m_pProgress = new CUpgradeProgressDlg(this);
    if (!title.isEmpty()) m_pProgress->setWindowTitle(title);
    m_pProgress->show();
    return m_pProgress;
}

void CUpgradeDlg::CloseProgressWindow() {
    if (!m_pProgress) return;
    m_pProgress->hide();
    delete m_pProgress;
    m_pProgress = nullptr;
}

void CUpgradeDlg::FinishCheck() {
    m_btnClose->setEnabled(true);
    m_btnOK->setEnabled(false);
    m_btnClose->setFocus();
    m_dtLastCheck = QDateTime::currentDateTime();
}

void CUpgradeDlg::OnOK() {
    // One check at a time: the buttons are disabled while it runs and a press that still
    // arrives (Enter, a queued click) is ignored.
    if (m_bChecking || !m_btnOK->isEnabled()) return;
    m_bChecking = true;
    m_btnOK->setEnabled(false);
    m_btnClose->setEnabled(false);

    ShowProgressWindow({});
    const CStringList& lines = m_fetcher.Fetch(m_strUpgradeUrl, std::string());
    const bool fetched = m_fetcher.LastFetchSucceeded();
    const std::string failure = m_fetcher.LastFailureReason();
    // A page that did not arrive whole is not read at all.
    static const CStringList kNoLines;
    ParseUpgradePage(fetched ? lines : kNoLines);
    CloseProgressWindow();

    const QString product = FromBytes(m_strProductName);
    if (!fetched || !m_page.bVersionFound) {
        // Not knowing is not the same as being up to date. The user may try again.
        const std::string reason =
            !fetched
                ? (failure.empty() ? std::string("the upgrade page could not be fetched") : failure)
                : std::string("the upgrade page does not say which version is current");
        m_btnClose->setEnabled(true);
        m_btnOK->setEnabled(true);
        m_bChecking = false;
        ShowMessage(this,
                    product + QStringLiteral(" could not check for an upgrade: ") +
                        FromBytes(reason) + QStringLiteral(".\n\nPlease try again later."),
                    product, QMessageBox::Ok, QMessageBox::Warning);
        return;
    }

    bool closeAfterwards = false;
    if (m_page.fNewVersion > m_fVersion) {
        const QString offer = QStringLiteral("A new upgrade of ") + product +
                              QStringLiteral(" is available for download.\n\nDescription:\n\n") +
                              FromBytes(m_page.strDescription) + QStringLiteral("\n\n");
        const QString caption = QStringLiteral("A new upgrade is available.");
        // A build that could install no upgrade says so now, not after the user said Yes.
        const std::optional<std::string> key = HelperPublicKey(m_strHelper);
        m_strMakerKey = key.value_or(std::string());
        if (!key) {
            ShowMessage(this, offer + FromBytes(NoMakerKeyOfferMessage(VANTREL_DOWNLOAD_PAGE)),
                        caption, QMessageBox::Ok, QMessageBox::Warning);
        } else if (ShowMessage(
                       this, offer + QStringLiteral("Would you like to download the upgrade now?"),
                       caption, QMessageBox::Yes | QMessageBox::No,
                       QMessageBox::NoIcon) == QMessageBox::Yes) {
            DownloadAndInstall(m_page.strDownloadLink);
        } else {
            closeAfterwards = true;
        }
    } else {
        ShowMessage(this,
                    QStringLiteral("You have the most recent version v") +
                        QString::asprintf("%.2f", static_cast<double>(m_fVersion)) +
                        QStringLiteral(".\nNo upgrade is available."),
                    product, QMessageBox::Ok, QMessageBox::NoIcon);
    }
    m_bChecking = false;
    FinishCheck();
    if (closeAfterwards) done(QDialog::Rejected);
}

void CUpgradeDlg::RefuseUpgrade(const std::string& message, bool warning) {
    ShowMessage(this, FromBytes(message), QStringLiteral("Vantrel"), QMessageBox::Ok,
                warning ? QMessageBox::Warning : QMessageBox::Information);
}

void CUpgradeDlg::DownloadAndInstall(std::string link) {
    namespace fs = std::filesystem;
    link = TrimmedLine(link);
    UpgradeRefusal refusal = CheckBeforeDownload(m_strUpgradeUrl, link, m_page.strSha256);
    // Nothing is downloaded that could never be installed.
    if (refusal == UpgradeRefusal::kNone && !IsMakerKey(m_strMakerKey))
        refusal = UpgradeRefusal::kNoMakerKey;
    if (refusal != UpgradeRefusal::kNone) {
        RefuseUpgrade(RefusalMessage(refusal, VANTREL_DOWNLOAD_PAGE),
                      refusal != UpgradeRefusal::kNoLink);
        return;
    }
    // A folder of the user's own: nobody else can put another file in its place.
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "vantrel-upgrade-XXXXXX").string();
    if (error || !mkdtemp(pattern.data())) {
        RefuseUpgrade(RefusalMessage(UpgradeRefusal::kDownloadFailed, VANTREL_DOWNLOAD_PAGE),
                      false);
        return;
    }
    const fs::path dir = pattern;
    const std::string package = (dir / "vantrel-upgrade.deb").string();

    CUpgradeProgressDlg* progress = ShowProgressWindow(QStringLiteral("Upgrading Software"));
    {
        CHttpFetcher fetcher;
        fetcher.Fetch(link, package, [progress](const std::string& text) {
            progress->SetStatusText(QString::fromStdString(text));
        });
        refusal = CheckDownload(fetcher.LastFetchSucceeded(), package, m_page.strSha256);
    }
    std::string signature;
    if (refusal == UpgradeRefusal::kNone)
        refusal = FetchSignature(link, package + ".sig", signature);
    // The helper's own checks, made here first: a package it would refuse is refused before
    // anyone is asked for a password, with its one reason.
    PackageFields fields;
    if (refusal == UpgradeRefusal::kNone)
        refusal = CheckSignedPackage(package, signature, m_strMakerKey, VANTREL_VERSION, fields);
    if (refusal == UpgradeRefusal::kNone) {
        progress->SetStatusText(QStringLiteral("Installing the new version .."));
        progress->ShowPainted();
        // The password prompt and apt-get take their time: keep the windows painted meanwhile,
        // with the buttons of this dialog still off.
        auto install = std::async(std::launch::async, [&] {
            return InstallPackageElevated(m_strPkexec, m_strHelper, package, signature,
                                          fields.version, dir.string());
        });
        while (install.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        refusal = install.get();
    }
    fs::remove_all(dir, error);
    if (refusal != UpgradeRefusal::kNone) {
        RefuseUpgrade(RefusalMessage(refusal, VANTREL_DOWNLOAD_PAGE),
                      refusal != UpgradeRefusal::kDownloadFailed);
        CloseProgressWindow();
        return;
    }
    CloseProgressWindow();
    ShowMessage(this, FromBytes(PackageInstalledMessage(fields.version)), QStringLiteral("Vantrel"),
                QMessageBox::Ok, QMessageBox::Information);
    // The files of this program have been replaced: end as after any upgrade, without the normal
    // shutdown that would record the check's date or run anything else of this program.
    std::fflush(nullptr);
    _exit(0);
}

UpgradeRefusal CUpgradeDlg::FetchSignature(const std::string& link, const std::string& path,
                                           std::string& signature) {
    // The maker's signature lies beside the package, and comes the same way.
    CHttpFetcher fetcher;
    fetcher.Fetch(link + ".sig", path);
    if (!fetcher.LastFetchSucceeded()) {
        // A server that answered, but not with a signature (a 404, an error page, nothing), has
        // none to give: that is no network problem, and trying again will not help.
        const EFetchError error = fetcher.LastError();
        const bool answered =
            fetcher.LastHttpStatus() != 0 &&
            (error == EFetchError::None || error == EFetchError::HtmlPage ||
             error == EFetchError::EmptyBody || error == EFetchError::RedirectFailed);
        return answered ? UpgradeRefusal::kSignatureMissing : UpgradeRefusal::kDownloadFailed;
    }
    const std::optional<std::string> bytes = ReadSignatureFile(path);
    // Larger than any signature of the maker's.
    if (!bytes) return UpgradeRefusal::kBadSignature;
    signature = *bytes;
    return UpgradeRefusal::kNone;
}

void CUpgradeDlg::SaveUpgradeDate() {
    const QDate day = m_dtLastCheck.date();
    const std::string text =
        QStringLiteral("%1 %2 %3").arg(day.month()).arg(day.day()).arg(day.year()).toStdString();
    CRegistryStore store;
    store.WriteValue(m_strProductName, "UpgradeDate", text, HKEY_CURRENT_USER);
}
