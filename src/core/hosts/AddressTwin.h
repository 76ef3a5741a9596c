// The other address family's counterpart of a hosts address. A name listed with an IPv4 address
// alone is looked up in DNS by IPv6-only queries (and the other way round), so every settings
// line goes out with its twin.
#pragma once

#include <string>
#include <string_view>

// 0.0.0.0 and other IPv4 addresses -> "::", 127.x.x.x -> "::1"; "::1" -> "127.0.0.1", other
// IPv6 addresses -> "0.0.0.0". Empty for text that is no address.
std::string TwinAddress(std::string_view address);
