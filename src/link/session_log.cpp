#include "link/session_log.h"

#include <cerrno>
#include <cstring>

#include "base/csv_writer.h"

namespace heliostat::link {

std::string EscapeBytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte >= 0x20 && byte <= 0x7e) {
                    out += c;
                } else {
                    out += "\\x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0x0f];
                }
        }
    }
    return out;
}

std::unique_ptr<SessionLog> SessionLog::Open(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<SessionLog> log(new SessionLog(file));
    if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) == 0) {
        std::fputs("time_jst,event,datagram,detail\r\n", file);
        std::fflush(file);
    }
    return log;
}

SessionLog::~SessionLog() {
    std::fclose(file_);
}

void SessionLog::Write(std::string_view timeJst, std::string_view event, std::string_view datagram,
                       std::string_view detail) {
    const std::string line = base::CsvField(timeJst) + ',' + base::CsvField(event) + ',' +
                             base::CsvField(EscapeBytes(datagram)) + ',' + base::CsvField(detail) +
                             "\r\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace heliostat::link
