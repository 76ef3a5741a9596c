// Fuzzes the upgrade page scanner: any page, scanned twice into the same record as the dialog
// does, must not crash, and what it takes must come from the page.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "core/upgrade/UpgradePage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < page.size();) {
        const std::size_t lf = page.find('\n', pos);
        const std::size_t end = lf == std::string_view::npos ? page.size() : lf + 1;
        lines.emplace_back(page.substr(pos, end - pos));
        pos = end;
    }

    UpgradePageInfo info;
    ParseUpgradePage(lines, info);
    const UpgradePageInfo first = info;
    ParseUpgradePage(lines, info);
    // The same page gives the same values again.
    FUZZ_CHECK(info.strDescription == first.strDescription);
    FUZZ_CHECK(info.strDownloadLink == first.strDownloadLink);
    FUZZ_CHECK(info.strSha256 == first.strSha256);
    FUZZ_CHECK(info.bVersionFound == first.bVersionFound);
    FUZZ_CHECK(std::isnan(info.fNewVersion) ? std::isnan(first.fNewVersion)
                                            : info.fNewVersion == first.fNewVersion);
    FUZZ_CHECK(info.strDescription.size() <= size);
    FUZZ_CHECK(info.strDownloadLink.empty() || page.find(info.strDownloadLink) != page.npos);
    FUZZ_CHECK(info.strSha256.empty() || page.find(info.strSha256) != page.npos);
    if (!info.bVersionFound) FUZZ_CHECK(info.fNewVersion == 0.0f);

    // The version reads like atof in the C locale, from the line's first 99 characters.
    for (const std::string& line : lines) {
        const std::string prefix = line.substr(0, 99);
        const float version = ReadVersionNumber(line);
        const double reference = std::atof(prefix.c_str());
        const float expected = std::isfinite(reference) && std::fabs(reference) > 3.4028234e38
                                   ? (reference > 0 ? HUGE_VALF : -HUGE_VALF)
                                   : static_cast<float>(reference);
        FUZZ_CHECK(std::isnan(version) ? std::isnan(expected) : version == expected);
    }
    return 0;
}
