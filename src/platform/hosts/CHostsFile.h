// The one class that touches the system hosts file: finds it, tells whether ads are hidden,
// appends the marked block from the settings file and cuts it out again.
#pragma once

#include <string>

#include "platform/hosts/HostsFileIO.h"

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
    // Appends the block from the settings file unless one is there, writing the file itself (no
    // helper). Writes nothing and returns false when the hosts file is missing or unreadable, or
    // the settings file can be neither opened nor created.
    bool AddBlock();
    // The Show intent (see ApplyIntent): cuts the block out. False (nothing written) when the end
    // marker is missing after the begin marker or the file cannot be read or written.
    bool RemoveBlock();
    // One press of the toggle, carrying what its caption said: makes the file hide or show ads
    // in one locked pass, which does nothing when the file already is that way (Hide replaces a
    // block of Vantrel's that hides nothing, Show cuts any block; HostsFileIO.h). Returns whether
    // ads are hidden afterwards, as the file then holds; GetFailure() says why a change failed.
    bool ApplyIntent(HostsIntent intent);
    // After ApplyIntent: whether it changed whether ads are hidden.
    bool Changed() const { return m_bChanged; }
    // Why the last AddBlock, RemoveBlock or ApplyIntent failed, or what keeps the ads shown after
    // a Hide, in a sentence for the user; "" when it did not fail, when the user dismissed the
    // authentication, or when the program's own write of the file failed (the status read back
    // from the file shows that).
    const std::string& GetFailure() const { return m_strFailure; }
    // After RemoveBlock: false when it saw the file left without any begin marker, true when
    // one may remain (a second block, a failure, or the privileged helper did the work).
    bool MayStillHoldBlock() const { return m_bMayHoldBlock; }

private:
    std::string m_strFailure;
    bool m_bMayHoldBlock = true;
    bool m_bChanged = false;
    bool m_bDone = false;
};

// False only when opening the path read-only fails with "no such file or directory".
bool FileExists(const std::string& path);
