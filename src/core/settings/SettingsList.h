// The rules of the settings dialog's list and address, the same in every system's dialog: what a
// list saves as, and why a list or an address is refused. Text is UTF-8 in and out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The address field holds at most this many characters.
inline constexpr std::size_t kMaxAddressLength = 15;

// The settings file's text for a list: "address blank domain" and a LF for every domain of the
// list (DomainsOfList: blanks around it and a trailing dot dropped, empty lines vanish), each
// followed by the same line with the twin address.
std::string SettingsTextFor(std::string_view domains, const std::string& address);

struct ListProblem {
    std::string text;  // empty when the list may be saved
    int line = -1;     // the list's line (from 0; CR LF, CR and LF each end one) to show, or -1
};
// Why a list may not be saved with that address: the first line that is not a domain name, or
// more lines for the settings file than the hosts block may hold.
ListProblem FindListProblem(std::string_view domains, const std::string& address);

// Why the address may not be saved: more than kMaxAddressLength characters, or not an address of
// this PC. Empty when it may.
std::string FindAddressProblem(std::string_view address);
