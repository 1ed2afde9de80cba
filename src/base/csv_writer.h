#pragma once

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/jst_clock.h"

namespace heliostat::base {

// One field of an RFC 4180 record: quoted (with inner quotes doubled) when it holds a comma, a
// quote or a line break, otherwise unchanged.
inline std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

// Builds the CSV in a large buffer and hands it to stdio in big blocks; nothing on the way
// allocates, so a year of one-minute rows costs no more than the cycles themselves.
class CsvWriter {
public:
    explicit CsvWriter(std::FILE* out, std::size_t capacity = std::size_t{1} << 20)
        : out_(out), buffer_(capacity) {}
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;
    ~CsvWriter() { Flush(); }

    // A literal of known length: the copy is inlined.
    template <std::size_t N>
    void Raw(const char (&text)[N]) {
        Reserve(N - 1);
        std::memcpy(buffer_.data() + used_, text, N - 1);
        used_ += N - 1;
    }

    void Raw(std::string_view text) {
        Reserve(text.size());
        std::memcpy(buffer_.data() + used_, text.data(), text.size());
        used_ += text.size();
    }

    // One RFC 4180 field, as CsvField writes it, without building the quoted copy: every
    // row's command holds commas.
    void Field(std::string_view text) {
        if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
            Raw(text);
            return;
        }
        Raw("\"");
        for (std::size_t quote; (quote = text.find('"')) != std::string_view::npos;
             text.remove_prefix(quote + 1)) {
            Raw(text.substr(0, quote + 1));  // the quote itself, then its double
            Raw("\"");
        }
        Raw(text);
        Raw("\"");
    }

    // "YYYY-MM-DD HH:MM:SS" (the years 1 to 9999).
    void DateTime(const JstDateTime& t) {
        Reserve(19);
        char* p = buffer_.data() + used_;
        Digits(p, t.year, 4);
        p[4] = '-';
        Digits(p + 5, t.month, 2);
        p[7] = '-';
        Digits(p + 8, t.day, 2);
        p[10] = ' ';
        Digits(p + 11, t.hour, 2);
        p[13] = ':';
        Digits(p + 14, t.minute, 2);
        p[16] = ':';
        Digits(p + 17, t.second, 2);
        used_ += 19;
    }

    // Fixed two decimals, correctly rounded like printf's "%.2f".
    void Fixed2(double value) {
        char text[64];
        const auto result =
            std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
        Raw(std::string_view(text, static_cast<std::size_t>(result.ptr - text)));
    }

    void Flush() {
        if (used_ > 0) {
            std::fwrite(buffer_.data(), 1, used_, out_);
            used_ = 0;
        }
        std::fflush(out_);
    }

private:
    void Reserve(std::size_t n) {
        if (used_ + n > buffer_.size()) {
            std::fwrite(buffer_.data(), 1, used_, out_);
            used_ = 0;
            if (n > buffer_.size()) {
                buffer_.resize(n);
            }
        }
    }

    static void Digits(char* p, int value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            p[i] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
    }

    std::FILE* out_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

}  // namespace heliostat::base
