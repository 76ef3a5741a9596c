// After a change to the hosts file: offer to close the browsers that still use the old lookups,
// and find out which of them really ended.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/browsers/BrowserNames.h"
#include "platform/browsers/BrowserOffer.h"

class QWidget;

// Asks (owned by `owner`) only when a browser runs; on Yes asks every browser window to close
// and then waits a few seconds, dispatching events, until their processes have ended.
// `waiting` is told what is being waited for, and an empty text when the wait is over.
BrowserOfferOutcome OfferToCloseBrowserWindows(
    QWidget* owner, const std::function<void(const std::string&)>& waiting = {});
