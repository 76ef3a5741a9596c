// After a change to the hosts file: offer to close the browser windows that still show the old
// state.
#pragma once

class QWidget;

// Asks (owned by `owner`) only when a browser window is open; on Yes asks every one to close.
// Returns at once: it never waits for the windows.
void OfferToCloseBrowserWindows(QWidget* owner);
