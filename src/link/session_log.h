#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "base/jst_clock.h"

namespace heliostat::link {

// A datagram's bytes as one line of printable ASCII: backslash as \\, CR, LF and tab as \r,
// \n and \t, every other byte outside 0x20..0x7e as \xHH. Plain commands stay as they are.
std::string EscapeBytes(std::string_view bytes);

// Free text (UTF-8) kept on one line: control bytes and DEL escaped as in EscapeBytes, the
// bytes of Japanese text left alone.
std::string EscapeText(std::string_view text);

// The longest datagram recorded whole; a longer one is cut, its length told in the detail.
inline constexpr std::size_t kRecordedDatagramBytes = 256;
// More events of one kind than this in one second are folded into one count row.
inline constexpr int kEventsPerSecond = 20;

// The session record: CSV rows "time,event,datagram,detail" appended to a regular file, the
// header only when the file is new. Each row goes out with one write call, so a crash loses at
// most that row; a write the system refuses is reported, the rows meanwhile are counted, and
// a `lost` row tells their number once writing works again.
class SessionLog {
public:
    // Opens `path` for appending; HeliostatError with the reason in Japanese when it cannot,
    // or when it names anything but a regular file (a FIFO, a directory, a device): a record
    // that can block or vanish is no record.
    static std::unique_ptr<SessionLog> Open(const std::string& path);
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Writes one row, stamped `time` (JST with its offset). `datagram` is escaped by
    // EscapeBytes and cut to kRecordedDatagramBytes; `detail` by EscapeText. Rows of one event
    // beyond kEventsPerSecond in one second are folded, except commands. False when the system
    // refused the write (see Error()), or an earlier refusal still holds.
    bool Write(base::UtcMillis time, std::string_view event, std::string_view datagram = {},
               std::string_view detail = {});
    // Writes the count rows of seconds that have ended by `time`. False as Write.
    bool Flush(base::UtcMillis time);

    // Why the last write failed (the system's words); empty while writing works.
    const std::string& Error() const { return error_; }
    // Rows that could not be written since writing last worked.
    long long Lost() const { return lost_; }
    int Descriptor() const { return fd_; }

private:
    explicit SessionLog(int fd) : fd_(fd) {}
    bool WriteRow(base::UtcMillis time, std::string_view event, std::string_view datagram,
                  std::string_view detail);
    bool Put(const std::string& bytes);

    struct Second {
        long long second = 0;  // whole seconds since the epoch
        int count = 0;         // events of this kind in that second
        base::UtcMillis last{};
    };
    int fd_;
    std::string error_;
    long long lost_ = 0;
    std::map<std::string, Second, std::less<>> seconds_;
};

}  // namespace heliostat::link
