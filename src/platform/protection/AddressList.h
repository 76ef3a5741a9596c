// The raw addresses in a resolver's answer list (addrinfo on POSIX, ADDRINFOW on Windows: the
// same fields), 4 bytes for IPv4 and 16 for IPv6. Include after the system's socket headers.
#pragma once

#include <set>
#include <string>

template <typename AddressInfo>
std::set<std::string> AddressesIn(const AddressInfo* list) {
    std::set<std::string> addresses;
    for (const AddressInfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            addresses.emplace(reinterpret_cast<const char*>(&in->sin_addr), 4);
        } else if (ai->ai_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
            addresses.emplace(reinterpret_cast<const char*>(&in6->sin6_addr), 16);
        }
    }
    return addresses;
}
