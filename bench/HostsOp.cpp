// Benchmark child: one hosts-file operation in a fresh process, as a toggle or the status display
// runs it. The file is $VANTREL_HOSTS_FILE; "idle" does nothing, for a memory baseline.
#include <string_view>

#include "platform/hosts/CHostsFile.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string_view op = argv[1];
    if (op == "idle") return 0;
    CHostsFile hosts;
    if (op == "is") return hosts.IsBlockActive() ? 0 : 1;
    if (op == "add") return hosts.AddBlock() ? 0 : 1;
    if (op == "remove") return hosts.RemoveBlock() ? 0 : 1;
    return 2;
}
