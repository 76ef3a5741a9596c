// A toggle as the main dialog does it, without a window: hides ads when they are shown and shows
// them when hidden, and says why on stderr when that fails. The pkexec test runs it as an
// unprivileged user in its settings folder. With "--save LIST ADDRESS" it first saves the domain
// list in the file LIST as the settings dialog's OK does, refusing what the dialog refuses.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "core/SettingsList.h"
#include "platform/CHostsFile.h"
#include "platform/SettingsFileIO.h"

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
    if (argc == 4 && std::string(argv[1]) == "--save" && !SaveList(argv[2], argv[3])) return 2;
    CHostsFile hosts;
    const bool hide = !hosts.IsBlockActive();
    const bool done = hide ? hosts.AddBlock() : hosts.RemoveBlock();
    std::printf("%s %s\n", hide ? "add" : "remove", done ? "done" : "failed");
    if (!hosts.GetFailure().empty()) std::fprintf(stderr, "%s\n", hosts.GetFailure().c_str());
    return done ? 0 : 1;
}
