#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace heliostat::link {

// A datagram's bytes as one line of printable ASCII: backslash as \\, CR, LF and tab as \r,
// \n and \t, every other byte outside 0x20..0x7e as \xHH. Plain commands stay as they are.
std::string EscapeBytes(std::string_view bytes);

// The session record: CSV lines "time_jst,event,datagram,detail" appended to a file, the
// header only when the file is new. Every line is flushed as it is written, so a crash loses
// at most the line being written.
class SessionLog {
public:
    // Opens `path` for appending; nullptr, with the system's reason in `error`, when it cannot.
    static std::unique_ptr<SessionLog> Open(const std::string& path, std::string& error);
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // `datagram` is escaped by EscapeBytes; the other fields are UTF-8 text.
    void Write(std::string_view timeJst, std::string_view event, std::string_view datagram,
               std::string_view detail);

private:
    explicit SessionLog(std::FILE* file) : file_(file) {}
    std::FILE* file_;
};

}  // namespace heliostat::link
