// The one class that touches the system hosts file: finds it, tells whether ads are hidden,
// appends the marked block from the settings file and cuts it out again.
#pragma once

#include <string>

#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/HostsResult.h"

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
    // The Show intent (see ApplyIntent): cuts the block out. True also when there is no hosts
    // file. False (nothing written) when the end marker is missing after the begin marker or the
    // file cannot be read or written.
    bool RemoveBlock();
    // One press of the toggle, carrying what its caption said: makes the file hide or show ads
    // in one locked pass, which does nothing when the file already is that way (Hide replaces a
    // block of Vantrel's that hides nothing, Show cuts any block; HostsFileIO.h), through the
    // privileged helper where the file needs it. The result says whether ads are hidden
    // afterwards, as the file then holds, whether that changed, and in its sentence why a change
    // failed or what keeps the ads shown after a Hide.
    HostsResult ApplyIntent(HostsIntent intent);
    // The sentence of the last AddBlock, RemoveBlock or ApplyIntent; "" when it did not fail,
    // when the user dismissed the authentication, or when the program's own write of the file
    // failed (the status read back from the file shows that).
    const std::string& GetFailure() const { return m_failure; }

private:
    std::string m_failure;
};
