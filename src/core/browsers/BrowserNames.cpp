// Browser names and the close question: the one list every platform recognises browsers by.
#include "core/browsers/BrowserNames.h"

#include <algorithm>
#include <cctype>

namespace {

struct ProgramName {
    std::string_view name;
    Browser browser;
};

// WM_CLASS values and executable names of each browser's packages (Debian, the vendors' own
// .deb and .rpm, snap, flatpak launchers) and Windows images. Compared in lower case.
constexpr ProgramName kPrograms[] = {
    {"firefox", Browser::Firefox},
    {"firefox-esr", Browser::Firefox},
    {"firefox-bin", Browser::Firefox},
    {"firefox-developer-edition", Browser::Firefox},
    {"firefox-nightly", Browser::Firefox},
    {"firefoxdeveloperedition", Browser::Firefox},
    {"iceweasel", Browser::Firefox},
    {"org.mozilla.firefox", Browser::Firefox},
    {"chromium", Browser::Chromium},
    {"chromium-browser", Browser::Chromium},
    {"chromium-freeworld", Browser::Chromium},
    {"org.chromium.chromium", Browser::Chromium},
    {"chrome", Browser::Chrome},
    {"google-chrome", Browser::Chrome},
    {"google-chrome-stable", Browser::Chrome},
    {"google-chrome-beta", Browser::Chrome},
    {"google-chrome-unstable", Browser::Chrome},
    {"com.google.chrome", Browser::Chrome},
    {"msedge", Browser::Edge},
    {"microsoft-edge", Browser::Edge},
    {"microsoft-edge-stable", Browser::Edge},
    {"microsoft-edge-beta", Browser::Edge},
    {"microsoft-edge-dev", Browser::Edge},
    {"com.microsoft.edge", Browser::Edge},
    {"brave", Browser::Brave},
    {"brave-browser", Browser::Brave},
    {"brave-browser-beta", Browser::Brave},
    {"brave-browser-nightly", Browser::Brave},
    {"com.brave.browser", Browser::Brave},
    {"opera", Browser::Opera},
    {"opera-beta", Browser::Opera},
    {"opera-developer", Browser::Opera},
    {"vivaldi", Browser::Vivaldi},
    {"vivaldi-bin", Browser::Vivaldi},
    {"vivaldi-stable", Browser::Vivaldi},
    {"vivaldi-snapshot", Browser::Vivaldi},
    {"com.vivaldi.vivaldi", Browser::Vivaldi},
    {"iexplore", Browser::InternetExplorer},
};

constexpr std::string_view kFirefoxTitle = "Mozilla Firefox";
constexpr std::string_view kExplorerTitle = "Internet Explorer";

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

std::string_view DisplayName(Browser browser) {
    switch (browser) {
        case Browser::Firefox:
            return "Mozilla Firefox";
        case Browser::Chromium:
            return "Chromium";
        case Browser::Chrome:
            return "Google Chrome";
        case Browser::Edge:
            return "Microsoft Edge";
        case Browser::Brave:
            return "Brave";
        case Browser::Opera:
            return "Opera";
        case Browser::Vivaldi:
            return "Vivaldi";
        case Browser::InternetExplorer:
            return "Internet Explorer";
    }
    return {};
}

std::optional<Browser> BrowserOfProgram(std::string_view name) {
    std::string lower = Lower(name);
    if (lower.size() > 4 && lower.ends_with(".exe")) lower.resize(lower.size() - 4);
    for (const ProgramName& program : kPrograms) {
        if (lower == program.name) return program.browser;
    }
    return std::nullopt;
}

std::optional<Browser> BrowserOfTitle(std::string_view title) {
    if (title.find(kFirefoxTitle) != std::string_view::npos) return Browser::Firefox;
    if (title.find(kExplorerTitle) != std::string_view::npos) return Browser::InternetExplorer;
    return std::nullopt;
}

bool IsBrowserTitle(std::string_view title) {
    return BrowserOfTitle(title).has_value();
}

std::vector<Browser> InQuestionOrder(std::vector<Browser> browsers) {
    std::sort(browsers.begin(), browsers.end());
    browsers.erase(std::unique(browsers.begin(), browsers.end()), browsers.end());
    return browsers;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

std::string BrowserListText(const std::vector<Browser>& browsers) {
    std::vector<std::string> names;
    for (const Browser browser : InQuestionOrder(browsers))
        names.emplace_back(DisplayName(browser));
    return JoinNames(names);
}

std::string CloseQuestionText(const std::vector<Browser>& found) {
    const std::string product = "Vantrel";
    const bool onlyTheClassicTwo = std::all_of(found.begin(), found.end(), [](Browser browser) {
        return browser == Browser::Firefox || browser == Browser::InternetExplorer;
    });
    const std::string browsers =
        onlyTheClassicTwo ? std::string("Microsoft Internet Explorer and Mozilla Firefox")
                          : BrowserListText(found);
    return product + " needs to close " + browsers +
           " for changes to take effect. Would you like to close the windows now?";
}

std::string WaitingToCloseText(const std::vector<Browser>& browsers) {
    return "Waiting for " + BrowserListText(browsers) + " to close...";
}
