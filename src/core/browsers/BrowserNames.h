// Which programs are web browsers, what the user calls them, and the question that names them.
// Plain C++ with no window-system or OS headers: every platform's shell asks the same way.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// In the order the question names them.
enum class Browser { Firefox, Chromium, Chrome, Edge, Brave, Opera, Vivaldi, InternetExplorer };

// "Mozilla Firefox", "Chromium", "Google Chrome", ...
std::string_view DisplayName(Browser browser);

// The browser a program name stands for: an X11 WM_CLASS instance or class, or an executable's
// file name (any letter case, ".exe" ignored). Nothing for every other program.
std::optional<Browser> BrowserOfProgram(std::string_view name);

// The browser a window title names ("Mozilla Firefox", else "Internet Explorer", both
// case-sensitive substrings): the old rule for windows that say nothing else about themselves.
std::optional<Browser> BrowserOfTitle(std::string_view title);

// True when the title holds one of the browser texts (case-sensitive).
bool IsBrowserTitle(std::string_view title);

// Each browser once, in the question's order.
std::vector<Browser> InQuestionOrder(std::vector<Browser> browsers);

// "A", "A and B", "A, B and C".
std::string JoinNames(const std::vector<std::string>& names);
// The browsers' display names joined the same way, each once, in the question's order.
std::string BrowserListText(const std::vector<Browser>& browsers);

// The question asked before closing the browsers found. Only Firefox and Internet Explorer:
// the long-standing text, word for word; any other browser: the browsers found, by name.
std::string CloseQuestionText(const std::vector<Browser>& found);

// What the notes line says while the browsers asked to close are awaited.
std::string WaitingToCloseText(const std::vector<Browser>& browsers);
