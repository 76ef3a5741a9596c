// A press of the main dialog's toggle without a window: "hide" or "show" asks for that, and with
// neither it asks for the opposite of what the file shows now, as the dialog's caption would. It
// prints the state the press left ("hidden" or "shown") and says why a failure happened on stderr.
// The pkexec test runs it as an unprivileged user in its settings folder. With
// "--save LIST ADDRESS" it first saves the domain list in the file LIST as the settings dialog's OK
// does, refusing what the dialog refuses.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "core/settings/SettingsList.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/settings/SettingsFileIO.h"

namespace {
bool SaveList(const char* listPath, const std::string& address) {
    std::ifstream in(listPath, std::ios::binary);
    std::ostringstream list;
    list << in.rdbuf();
    const std::string domains = list.str();
    if (const ListProblem problem = FindListProblem(domains, address); !problem.text.empty()) {
        std::fprintf(stderr, "refused: %s\n", problem.text.c_str());
        return false;
    }
    return WriteSettingsText(SettingsTextFor(domains, address));
}
}  // namespace

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 4 && first == "--save" && !SaveList(argv[2], argv[3])) return 2;
    CHostsFile hosts;
    const bool hide = first == "hide" || (first != "show" && !hosts.IsBlockActive());
    // The dialog's own press: one pass, or the helper, and the state afterwards.
    const HostsResult result = hosts.ApplyIntent(hide ? HostsIntent::Hide : HostsIntent::Show);
    std::printf("%s\n", result.hidden ? "hidden" : "shown");
    if (!result.sentence.empty()) std::fprintf(stderr, "%s\n", result.sentence.c_str());
    return result.hidden == hide ? 0 : 1;
}
