// The upgrade page scanner.
#include "core/upgrade/UpgradePage.h"

#include <locale.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace {
constexpr std::string_view kVersionMarker = "<!-- UPGRADE Version";
constexpr std::string_view kDescriptionMarker = "<!-- UPGRADE Description";
constexpr std::string_view kDescriptionEnd = "END UPGRADE Description";
constexpr std::string_view kLinkMarker = "<!-- UPGRADE Download Link";
constexpr std::string_view kDigestMarker = "<!-- UPGRADE SHA256";

bool Contains(std::string_view line, std::string_view marker) {
    return line.find(marker) != std::string_view::npos;
}

// The program runs under the user's locale, whose decimal point may be a comma. Both C
// libraries can read a number in the C locale, each under its own name.
#if defined(_WIN32)
double StrtodInCLocale(const char* text) {
    static const _locale_t locale = _create_locale(LC_ALL, "C");
    return _strtod_l(text, nullptr, locale);
}
#else
double StrtodInCLocale(const char* text) {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(text, nullptr, locale);
}
#endif
}  // namespace

float ReadVersionNumber(std::string_view line) {
    const std::string buffer(line.substr(0, 99));
    const double value = StrtodInCLocale(buffer.c_str());
    // A finite double beyond float's range has no float value; saturate as the FPU would.
    if (std::isfinite(value) && std::fabs(value) > FLT_MAX)
        return value > 0 ? HUGE_VALF : -HUGE_VALF;
    return static_cast<float>(value);
}

namespace {
// Any list whose entries read as string_views, by index.
template <typename Lines>
void ScanPage(const Lines& lines, UpgradePageInfo& info) {
    info.strDescription.clear();
    info.strSha256.clear();
    info.bVersionFound = false;

    const size_t count = lines.size();
    size_t i = 0;
    while (i < count) {
        const std::string_view line = lines[i++];
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
}  // namespace

void ParseUpgradePage(const CStringList& lines, UpgradePageInfo& info) {
    ScanPage(lines, info);
}

void ParseUpgradePage(const std::vector<std::string>& lines, UpgradePageInfo& info) {
    ScanPage(lines, info);
}
