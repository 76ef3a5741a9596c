// The upgrade's transfers through the program's HTTP client, a fresh fetcher for each.
#pragma once

#include "model/upgrade/UpgradeFlow.h"

class HttpUpgradeFetch : public UpgradeFetch {
public:
    UpgradeFetchResult Fetch(const std::string& url, const std::string& file,
                             const std::function<void(const std::string&)>& progress) override;
};
