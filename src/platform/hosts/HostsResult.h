// What a change of the hosts file comes back with, whoever made it (the program itself, or its
// privileged helper): what happened, the sentence for the user, and what the file holds now.
#pragma once

#include <string>

#include "core/hosts/HostsText.h"

// What a press of the toggle asks for: its caption said "Hide Adsense" or "Show Adsense".
enum class HostsIntent { Hide, Show };

enum class HostsOutcome {
    Unchanged,      // the file already was the way asked for: nothing written
    Written,        // the file was changed as asked
    Missing,        // there is no hosts file (none is ever made)
    Unreadable,     // it could not be read, or a rewrite cut short could not be undone
    Busy,           // another program held the lock for longer than kHostsLockWaitSeconds
    Damaged,        // a begin marker without an end marker after it
    ForeignMarker,  // "Begin Vantrel" only in a form that is not the begin marker (Hide)
    EmptyList,      // the settings hold no entry line, so the block would hide nothing (Hide)
    BadSettings,    // no settings lines were to be had, or they may not go into the block
    WriteFailed,    // the write failed: the file holds its old bytes
    Denied,         // the administrator's permission was not given (pkexec)
    NoService       // the privileged side could not be reached (Windows: the hosts service)
};

struct HostsResult {
    HostsOutcome outcome = HostsOutcome::Missing;
    // What the user is told, or "": nothing went wrong, the user dismissed the authentication, or
    // the program's own write failed (the status read back from the file shows that).
    std::string sentence;
    // After a press (ApplyIntentAt, CHostsFile::ApplyIntent): whether the ad label is in the file,
    // and whether the press changed that.
    bool hidden = false;
    bool changed = false;
    // False when the pass saw the file left without any begin marker; true when one may remain (a
    // second block, a failure, or the privileged helper did the work).
    bool blockLeft = true;

    bool Done() const {
        return outcome == HostsOutcome::Unchanged || outcome == HostsOutcome::Written;
    }
};

// How long a change waits for another copy of the program that holds the lock, and what the user
// is told when that is not enough.
inline constexpr int kHostsLockWaitSeconds = 10;
inline constexpr const char* kHostsBusyText =
    "Another program holds a lock on the hosts file, so Vantrel could not change it. Close that "
    "program, or wait until it is done, and try again.";

// The sentence for an outcome that has one of its own: a busy lock and the refusals of the file
// as it is ("" for every other outcome).
inline const char* SentenceOf(HostsOutcome outcome) {
    switch (outcome) {
        case HostsOutcome::Busy:
            return kHostsBusyText;
        case HostsOutcome::Damaged:
            return kDamagedBlockText;
        case HostsOutcome::ForeignMarker:
            return kForeignMarkerText;
        case HostsOutcome::EmptyList:
            return kEmptyListText;
        default:
            return "";
    }
}
