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
    // The whole file with every CR dropped; "" when there is none or it cannot be read
    // (ReadHostsText tells those apart).
    std::string ReadHostsFile() const;
    // Replaces the file's content; false when the content was not replaced.
    bool WriteHostsFile(const std::string& text);
    // True when the ad-domain label occurs anywhere in the file, in any letter case.
    bool IsBlockActive() const;
    // Appends the block from the settings file unless one is there. Writes nothing and returns
    // false when the hosts file is missing or unreadable, or the settings file can be neither
    // opened nor created.
    bool AddBlock();
    // Cuts the block out; false (nothing written) when the end marker is missing after the begin
    // marker or the file cannot be read.
    bool RemoveBlock();
    // One press of the toggle: cuts the block out when ads are hidden (IsBlockActive), else adds
    // it, in one locked pass over the file. Returns whether ads are hidden afterwards, as the
    // file then holds; GetFailure() says why a change failed.
    bool ToggleBlock();
    // After ToggleBlock: whether it changed whether ads are hidden.
    bool ToggleChanged() const { return m_bToggleChanged; }
    // Why the last AddBlock, RemoveBlock or ToggleBlock failed, in a sentence for the user; "" when
    // it did not fail, when the user dismissed the authentication, or when the program's own write
    // of the file failed (the status read back from the file shows that).
    const std::string& GetFailure() const { return m_strFailure; }
    // After RemoveBlock: false when it saw the file left without any begin marker, true when
    // one may remain (a second block, a failure, or the privileged helper did the work).
    bool MayStillHoldBlock() const { return m_bMayHoldBlock; }

private:
    std::string m_strFailure;
    bool m_bMayHoldBlock = true;
    bool m_bToggleChanged = false;
};

// False only when opening the path read-only fails with "no such file or directory".
bool FileExists(const std::string& path);
