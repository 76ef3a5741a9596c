// The preferences store's rules for a value's text, the same in the registry and in the INI file.
#pragma once

#include <algorithm>
#include <string>

#include "platform/prefs/CRegistryStore.h"

// What a write stores: the text up to its first NUL (as a C string ends), cut to kMaxWrite bytes
// without splitting a UTF-8 sequence.
inline std::string TextToStore(const std::string& data) {
    std::string text = data.substr(0, data.find('\0'));
    if (text.size() <= CRegistryStore::kMaxWrite) return text;
    std::size_t end = CRegistryStore::kMaxWrite;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// What a read gives for the stored text: up to its first NUL; "" when that is longer than
// kMaxRead bytes (it and its terminating zero would not fit the read buffer) or is the hyphen
// that marks a value as not set.
inline std::string TextReadBack(std::string text) {
    text.resize(std::min(text.size(), text.find('\0')));
    if (text.size() > CRegistryStore::kMaxRead || text == "-") return {};
    return text;
}
