#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace heliostat::fuzz {

// Prints a quoted, escaped text so that blanks, line breaks and bytes outside ASCII are
// visible in a failure report.
inline std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

// A disagreement with the reading of the rules is a finding: report it and abort, so that
// libFuzzer keeps the input as a reproducer.
[[noreturn]] inline void Fail(const char* file, int line, const char* condition,
                              const std::string& detail) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, condition, detail.c_str());
    std::abort();
}

}  // namespace heliostat::fuzz

#define FUZZ_CHECK(condition, detail)                                          \
    do {                                                                       \
        if (!(condition)) {                                                    \
            ::heliostat::fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
        }                                                                      \
    } while (false)
