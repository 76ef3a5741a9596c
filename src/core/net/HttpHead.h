// What the fetcher keeps of an answer's head, read line by line as the network library hands the
// lines over. Kept free of the network so that every system reads a head the same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct ResponseHead {
    long status = 0;
    std::string strLocation;  // the first Location header's value
    std::string strRealm;     // the realm of the first WWW-Authenticate challenge
    std::int64_t contentLength = -1;
};

// Takes one head line (line end included or not). True at the blank line that ends a head other
// than a 1xx one: the answer is then to be acted on. A status line starts a new head.
bool TakeHeadLine(ResponseHead& head, std::string_view line);

// The head of a whole block of head lines separated by LF or CR LF.
ResponseHead ReadHead(std::string_view text);
