// Reads the upgrade page: the values the maker publishes between "<!-- UPGRADE" comment markers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/CStringList.h"

struct UpgradePageInfo {
    float fNewVersion = 0.0f;
    std::string strDescription;
    // The link and digest lines as the page has them (line end included); trim before use.
    std::string strDownloadLink;
    std::string strSha256;
    // Whether this scan found a version value; without one the check says nothing.
    bool bVersionFound = false;
};

// Scans the page's lines (each with its LF) into `info`. The description, the digest and
// bVersionFound start afresh; the version and the link keep an earlier page's values when this
// page lacks them. A digest is never carried over: it must come from the page that is acted on.
void ParseUpgradePage(const CStringList& lines, UpgradePageInfo& info);
void ParseUpgradePage(const std::vector<std::string>& lines, UpgradePageInfo& info);

// The version as the C library's atof reads it, in the C locale, from at most 99 characters.
float ReadVersionNumber(std::string_view line);
