// The privileged helper that pkexec runs to add or remove Vantrel's block in /etc/hosts when
// the user may not write it. Nothing it inherits is trusted: the environment is dropped and the
// path is fixed, so no variable can point it at another file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/HostsHelper.h"

int main(int argc, char** argv) {
    clearenv();
    umask(022);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return RunHostsHelper(args, STDIN_FILENO, kSystemHostsPath);
}
