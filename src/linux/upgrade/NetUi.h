// Puts the fetcher's user-facing hooks in front of the user: the message box and the
// password dialog.
#pragma once

// Call once after the QApplication exists.
void InitNetUi();
