// The one class that touches the system hosts file: finds it, tells whether ads are hidden,
// appends the marked block from the settings file and cuts it out again.
#pragma once

#include <string>

class CHostsFile {
public:
    CHostsFile() = default;
    virtual ~CHostsFile();

    // The hosts file's path (/etc/hosts, or $VANTREL_HOSTS_FILE), or "" when it does not exist.
    std::string GetHostsPath() const;
    // The whole file with every CR dropped; "" when there is none or it cannot be read.
    std::string ReadHostsFile() const;
    // Replaces the file's content; false when the content was not replaced.
    bool WriteHostsFile(const std::string& text);
    // True when the ad-domain label occurs anywhere in the file, in any letter case.
    bool IsBlockActive() const;
    // Appends the block unless one is there.
    bool AddBlock();
    // Cuts the block out.
    bool RemoveBlock();
};

// False only when opening the path read-only fails with "no such file or directory".
bool FileExists(const std::string& path);
