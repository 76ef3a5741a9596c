// A toggle as the main dialog does it, without a window: hides ads when they are shown and shows
// them when hidden. The pkexec test runs it as an unprivileged user in its settings folder.
#include <cstdio>

#include "platform/CHostsFile.h"

int main() {
    CHostsFile hosts;
    const bool hide = !hosts.IsBlockActive();
    const bool done = hide ? hosts.AddBlock() : hosts.RemoveBlock();
    std::printf("%s %s\n", hide ? "add" : "remove", done ? "done" : "failed");
    return done ? 0 : 1;
}
