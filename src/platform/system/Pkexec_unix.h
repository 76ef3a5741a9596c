// pkexec, which runs a privileged helper once polkit has the administrator's (or the user's)
// consent: always the installed one, named by its absolute path, never looked for on PATH.
// Tests run a stand-in through the callers' own seams.
#pragma once

inline constexpr const char* kPkexecPath = "/usr/bin/pkexec";
// pkexec's own exit statuses, when it ran nothing: the user dismissed the authentication dialog;
// the user is not authorised, or pkexec failed.
inline constexpr int kPkexecDismissed = 126;
inline constexpr int kPkexecNotAuthorized = 127;
