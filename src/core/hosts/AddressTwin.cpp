// Address twins, by text alone: no OS headers, so every platform writes the same lines.
#include "core/hosts/AddressTwin.h"

#include <algorithm>

namespace {

bool IsDottedQuad(std::string_view text) {
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot - start);
        if (part.empty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoi(std::string(part)) > 255)
            return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

bool LooksLikeIPv6(std::string_view text) {
    return text.find(':') != std::string_view::npos &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                      c == ':' || c == '.';
           });
}

}  // namespace

std::string TwinAddress(std::string_view address) {
    if (IsDottedQuad(address)) return address.starts_with("127.") ? "::1" : "::";
    if (LooksLikeIPv6(address)) return address == "::1" ? "127.0.0.1" : "0.0.0.0";
    return {};
}
