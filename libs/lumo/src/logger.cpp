#include "lumo/logger.h"

#include "lumo/clock.h"

#include "compat/compat.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace lumo {

SourceLocation SourceLocation::make(const char* file, int line) {
    SourceLocation loc;
    loc.file = file;
    loc.base = file;
    loc.line = line;
    if (file) {
        for (const char* p = file; *p; ++p)
            if (*p == '/' || *p == '\\')
                loc.base = p + 1;
    }
    return loc;
}

unsigned long currentThreadId() {
    return compat::threadId();
}

Logger::Logger(std::string name, int level) : name_(std::move(name)), level_(level) {}

Logger::~Logger() = default;

Logger& Logger::defaultLogger() {
    // Function-local statics are initialised once, thread-safely. Never destroyed, so
    // objects torn down at exit can still log.
    static Logger* logger = new Logger();
    return *logger;
}

const char* Logger::levelWord(int level) {
    switch (level) {
    case Debug:
        return "debug";
    case Info:
        return "info";
    case Warn:
        return "warn";
    case Error:
        return "error";
    default:
        return "unknown";
    }
}

namespace {

void appendf(std::string& out, const char* format, int value) {
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, format, value);
    if (n > 0)
        out.append(buf, std::min<std::size_t>(std::size_t(n), sizeof buf - 1));
}

char levelLetter(int level) {
    static const char kLetters[] = "DIWE";
    return level >= Logger::Debug && level <= Logger::Error ? kLetters[level] : 'U';
}

} // namespace

std::string Logger::expand(const std::string& pattern, int level, const SourceLocation& where,
                           const std::string& message, std::int64_t nowMs, unsigned long threadId,
                           const std::string& loggerName) {
    const std::string& pat = pattern.empty() ? std::string(kDefaultPattern) : pattern;
    std::int64_t secs = nowMs / 1000;
    int millis = int(nowMs % 1000);
    if (millis < 0) {
        millis += 1000;
        secs -= 1;
    }
    std::tm tm{};
    bool haveTime = false;
    auto time = [&]() -> const std::tm& {
        if (!haveTime) {
            compat::localTime(secs, &tm);
            haveTime = true;
        }
        return tm;
    };

    std::string out;
    out.reserve(pat.size() + message.size() + 48);
    for (std::size_t i = 0; i < pat.size(); ++i) {
        const char c = pat[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 == pat.size()) {
            out.push_back('%');
            break;
        }
        const char e = pat[++i];
        switch (e) {
        case 'y':
            appendf(out, "%04d", time().tm_year + 1900);
            break;
        case 'C':
            appendf(out, "%02d", (time().tm_year + 1900) % 100);
            break;
        case 'm':
            appendf(out, "%02d", time().tm_mon + 1);
            break;
        case 'd':
            appendf(out, "%02d", time().tm_mday);
            break;
        case 'H':
            appendf(out, "%02d", time().tm_hour);
            break;
        case 'M':
            appendf(out, "%02d", time().tm_min);
            break;
        case 'S':
            appendf(out, "%02d", time().tm_sec);
            break;
        case 'e':
            appendf(out, "%03d", millis);
            break;
        case 'l':
            out += levelWord(level);
            break;
        case 'L':
            out.push_back(levelLetter(level));
            break;
        case 't': {
            char buf[32];
            const int n = std::snprintf(buf, sizeof buf, "%lx", threadId);
            out.append(buf, n > 0 ? std::size_t(n) : 0);
            break;
        }
        case 's':
            out += where.base ? where.base : "no_src";
            break;
        case 'g':
            out += where.file ? where.file : "no_src";
            break;
        case '#':
            appendf(out, "%d", where.line);
            break;
        case 'n':
            out += loggerName;
            break;
        case 'v':
            out += message;
            break;
        default:
            out.push_back(e);
            break;
        }
    }
    return out;
}

void Logger::log(int level, const SourceLocation& where, const char* format, ...) {
    if (level < this->level())
        return;
    char buf[kMaxMessage + 1];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0)
        buf[0] = '\0';
    const std::string line =
        expand(pattern_, level, where, buf, currentTimeMs(), compat::threadId(), name_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (sink_) {
        sink_(line);
    } else {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

} // namespace lumo
