// Stands in for the old version's uninstaller and for the downloaded installer: appends what it
// was started with to "upgrade-log.txt" in the working directory, waits a moment, and appends
// "end", so a caller that does not wait for it is caught.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    {
        std::ofstream log("upgrade-log.txt", std::ios::app);
        log << self << " start argc=" << argc;
        for (int i = 0; i < argc; ++i) log << " [" << argv[i] << "]";
        log << "\n";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ofstream("upgrade-log.txt", std::ios::app) << self << " end\n";
    return 7;
}
