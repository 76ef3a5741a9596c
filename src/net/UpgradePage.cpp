// The upgrade page scanner.
#include "net/UpgradePage.h"

#include <locale.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace {
const char* const kVersionMarker = "<!-- UPGRADE Version";
const char* const kDescriptionMarker = "<!-- UPGRADE Description";
const char* const kDescriptionEnd = "END UPGRADE Description";
const char* const kLinkMarker = "<!-- UPGRADE Download Link";
const char* const kDigestMarker = "<!-- UPGRADE SHA256";

bool Contains(const std::string& line, const char* marker) {
    return line.find(marker) != std::string::npos;
}

locale_t CLocale() {
    // The program runs under the user's locale, whose decimal point may be a comma.
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}
}  // namespace

float ReadVersionNumber(const std::string& line) {
    const std::string buffer = line.substr(0, 99);
    const double value = strtod_l(buffer.c_str(), nullptr, CLocale());
    // A finite double beyond float's range has no float value; saturate as the FPU would.
    if (std::isfinite(value) && std::fabs(value) > FLT_MAX)
        return value > 0 ? HUGE_VALF : -HUGE_VALF;
    return static_cast<float>(value);
}

void ParseUpgradePage(const std::vector<std::string>& lines, UpgradePageInfo& info) {
    info.strDescription.clear();
    info.strSha256.clear();
    info.bVersionFound = false;

    const size_t count = lines.size();
    size_t i = 0;
    while (i < count) {
        const std::string& line = lines[i++];
        if (Contains(line, kVersionMarker)) {
            if (i == count) break;
            info.fNewVersion = ReadVersionNumber(lines[i++]);
            info.bVersionFound = true;
        } else if (Contains(line, kDescriptionMarker)) {
            if (Contains(line, kDescriptionEnd)) continue;
            while (i < count && !Contains(lines[i], kDescriptionEnd))
                info.strDescription += lines[i++];
            if (i < count) ++i;  // the end line
        } else if (Contains(line, kLinkMarker)) {
            if (i == count) break;
            info.strDownloadLink = lines[i++];
        } else if (Contains(line, kDigestMarker)) {
            if (i == count) break;
            info.strSha256 = lines[i++];
        }
    }
}
