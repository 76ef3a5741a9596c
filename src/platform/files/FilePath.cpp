// Splitting and joining paths, the same on every system but for the separators it knows.
#include "platform/files/FileSys.h"

namespace filesys {

namespace {
// Windows takes both separators; POSIX only its own.
std::size_t LastSeparator(const std::string& path) {
    return kPathSeparator == '/' ? path.rfind('/')
                                 : path.find_last_of(std::string("/") + kPathSeparator);
}

bool IsSeparator(char c) {
    return c == kPathSeparator || c == '/';
}
}  // namespace

std::string FolderOf(const std::string& path) {
    const std::size_t slash = LastSeparator(path);
    if (slash == std::string::npos) return ".";
    // The top of the tree keeps its separator: "/", or "C:\" on Windows.
    const bool top = slash == 0 || (slash == 2 && path[1] == ':');
    return path.substr(0, top ? slash + 1 : slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = LastSeparator(path);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (IsSeparator(folder.back())) return folder + name;
    return folder + kPathSeparator + name;
}

std::string HiddenBeside(const std::string& path, std::string_view suffix) {
    std::string name(".");
    name.append(NameOf(path)).append(suffix);
    return JoinPath(FolderOf(path), name);
}

}  // namespace filesys
