// A property check for fuzz targets: a broken property stops the run like a crash, so libFuzzer
// keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <stdlib.h>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// A settings file in a private folder made once per fuzzing process.
inline std::string FuzzSettingsFile() {
    static const std::string path = [] {
        char dir[] = "/tmp/vantrel-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(dir) != nullptr);
        return std::string(dir) + "/vantrel_settings.txt";
    }();
    return path;
}
