// Shared set-up of the upgrade dialog tests.
#include "linux/upgrade/UpgradeTestEnv.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "linux/upgrade/TestServer.h"
#include "platform/net/CHttpFetcher.h"
#include "platform/prefs/CRegistryStore.h"

namespace {
// Runs before main, so before QSettings first looks at the configuration location.
struct ProcessEnvironment {
    ProcessEnvironment() {
        if (!std::getenv("VANTREL_UPGRADE_TEST_CONFIG")) {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "vantrel-config-XXXXXX").string();
            if (!mkdtemp(pattern.data())) std::abort();
            setenv("VANTREL_UPGRADE_TEST_CONFIG", pattern.c_str(), 1);
            m_owner = true;
        }
        setenv("XDG_CONFIG_HOME", std::getenv("VANTREL_UPGRADE_TEST_CONFIG"), 1);
        CHttpFetcher::SetDefaultCaFile(Certificates().caFile);
    }
    ~ProcessEnvironment() {
        std::error_code error;
        if (m_owner) std::filesystem::remove_all(std::getenv("VANTREL_UPGRADE_TEST_CONFIG"), error);
    }
    bool m_owner = false;
};
const ProcessEnvironment g_environment;
}  // namespace

MessageRecorder::MessageRecorder(Answer answer) {
    m_previous = SetMessageHook([this, answer](const MessageRequest& request) {
        m_messages.push_back({request.text, request.caption, request.buttons, request.icon});
        if (answer) return answer(m_messages.back());
        return request.buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageHook(m_previous);
}

std::string UpgradePage(const PageParts& parts) {
    std::string page = "<html><head><title>Vantrel upgrades</title></head><body>\n";
    if (!parts.version.empty()) page += "<!-- UPGRADE Version\n" + parts.version + "\n-->\n";
    if (!parts.description.empty())
        page += "<!-- UPGRADE Description\n" + parts.description + "END UPGRADE Description -->\n";
    if (!parts.link.empty()) page += "<!-- UPGRADE Download Link\n" + parts.link + "\n-->\n";
    if (!parts.sha256.empty()) page += "<!-- UPGRADE SHA256\n" + parts.sha256 + "\n-->\n";
    return page + "</body></html>\n";
}

std::string ReadUpgradeDate() {
    CRegistryStore store;
    return store.ReadValue("Vantrel", "UpgradeDate", HKEY_CURRENT_USER, "Software");
}

void WriteUpgradeDate(const std::string& text) {
    CRegistryStore store;
    store.WriteValue("Vantrel", "UpgradeDate", text, HKEY_CURRENT_USER);
}
