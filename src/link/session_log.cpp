#include "link/session_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/csv_writer.h"

namespace heliostat::link {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void EscapeByte(std::string& out, unsigned char byte) {
    switch (byte) {
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
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
    }
}

// The system's reasons an operator is likely to meet, in Japanese; the rest by number.
std::string Reason(int error) {
    switch (error) {
        case ENOSPC:
            return "ディスクに空きがありません";
        case EDQUOT:
            return "ディスクの使用量の上限に達しました";
        case EFBIG:
            return "ファイルが大きすぎます";
        case EIO:
            return "入出力エラーです";
        case EROFS:
            return "読み取り専用のファイルシステムです";
        case EACCES:
        case EPERM:
            return "書き込む権限がありません";
        case ENOENT:
            return "そのようなファイルやディレクトリはありません";
        case ENOTDIR:
            return "パスの途中がディレクトリではありません";
        case EISDIR:
        case ENXIO:
            return "通常のファイルではありません";
        default:
            return "エラー番号 " + std::to_string(error) + "（" + std::strerror(error) + "）";
    }
}

long long WholeSecond(base::UtcMillis time) {
    return std::chrono::floor<std::chrono::seconds>(time).time_since_epoch().count();
}

}  // namespace

std::string EscapeBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte <= 0x7e && byte != '\\') {
            out += c;
        } else {
            EscapeByte(out, byte);
        }
    }
    return out;
}

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            EscapeByte(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

std::unique_ptr<SessionLog> SessionLog::Open(const std::string& path) {
    // Not blocking: a FIFO without a reader must fail here instead of holding up the start.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw HeliostatError(Reason(errno), "log");
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw HeliostatError("通常のファイルではありません", "log");
    }
    ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
    std::unique_ptr<SessionLog> log(new SessionLog(fd));
    if (info.st_size == 0 && !log->Put("time,event,datagram,detail\r\n")) {
        throw HeliostatError(log->error_, "log");
    }
    return log;
}

SessionLog::~SessionLog() {
    ::close(fd_);
}

bool SessionLog::Put(const std::string& bytes) {
    struct stat info {};
    const bool sized = ::fstat(fd_, &info) == 0;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int why = n < 0 ? errno : ENOSPC;
            // A row cut in the middle would leave an open quote for every reader after it.
            if (done > 0 && sized && ::ftruncate(fd_, info.st_size) != 0) {
                // Nothing better to do: the row stays cut, and the error below says so.
            }
            error_ = Reason(why);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SessionLog::WriteRow(base::UtcMillis time, std::string_view event, std::string_view datagram,
                          std::string_view detail) {
    std::string shown(datagram.substr(0, kRecordedDatagramBytes));
    std::string text = EscapeText(detail);
    if (datagram.size() > kRecordedDatagramBytes) {
        text +=
            (text.empty() ? "" : " ") + std::string("length=") + std::to_string(datagram.size());
    }
    const std::string stamp = base::RecordStamp(time);
    std::string row = base::CsvField(stamp) + ',' + base::CsvField(event) + ',' +
                      base::CsvField(EscapeBytes(shown)) + ',' + base::CsvField(text) + "\r\n";
    if (lost_ > 0) {
        row = base::CsvField(stamp) + ",lost,,count=" + std::to_string(lost_) + "\r\n" + row;
    }
    if (!Put(row)) {
        ++lost_;
        return false;
    }
    lost_ = 0;
    error_.clear();
    return true;
}

bool SessionLog::Flush(base::UtcMillis time) {
    bool ok = true;
    const long long now = WholeSecond(time);
    for (auto& [kind, second] : seconds_) {
        if (second.count > kEventsPerSecond && second.second < now) {
            ok = WriteRow(second.last, "folded", {},
                          "kind=" + kind +
                              " count=" + std::to_string(second.count - kEventsPerSecond)) &&
                 ok;
            second.count = 0;
        }
    }
    return ok && error_.empty();
}

bool SessionLog::Write(base::UtcMillis time, std::string_view event, std::string_view datagram,
                       std::string_view detail) {
    bool ok = Flush(time);
    if (event != "command") {
        Second& second = seconds_[std::string(event)];
        const long long now = WholeSecond(time);
        if (second.second != now) {
            second = Second{now, 0, time};
        }
        second.last = time;
        if (++second.count > kEventsPerSecond) {
            return ok && error_.empty();
        }
    }
    return WriteRow(time, event, datagram, detail) && ok;
}

}  // namespace heliostat::link
