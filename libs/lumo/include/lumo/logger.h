// Public header of the lumo library: the logger and its line pattern.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace lumo {

/// Where a log line comes from. `base` is the file name after its last '/' or '\\'.
struct SourceLocation {
    const char* file = nullptr;
    const char* base = nullptr;
    int line = 0;

    static SourceLocation make(const char* file, int line);
};

/// Identifier of the calling thread as the logger prints it. Thread-safe.
unsigned long currentThreadId();

/// A logger writes one line per message, expanded from its pattern.
///
/// Pattern elements: %y year (4 digits), %C year modulo 100, %m month, %d day, %H hour,
/// %M minute, %S second, %e milliseconds, %l level word, %L level letter, %t thread id
/// (hex), %s source base name, %g source file as given, %# line, %n logger name,
/// %v message; '%' before any other character prints that character, a final '%' prints
/// itself.
///
/// log() is thread-safe: formatting happens outside the logger's mutex, the output under
/// it, so concurrent lines never interleave. The setters are meant for set-up, before the
/// logger is shared between threads (setLevel excepted, which is atomic).
class Logger {
public:
    enum Level { Debug = 0, Info = 1, Warn = 2, Error = 3 };
    using Sink = std::function<void(const std::string& line)>;

    static constexpr const char* kDefaultPattern = "[%y-%m-%d %H:%M:%S.%e] [%l] [%t] [%s:%#] %v";
    /// Longest formatted message in bytes, the terminating zero excluded.
    static constexpr std::size_t kMaxMessage = 510;

    explicit Logger(std::string name = {}, int level = Info);
    virtual ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    virtual const std::string& name() const { return name_; }

    /// The process-wide logger: empty name, default pattern, level info, standard output.
    /// Created once on first use. Thread-safe.
    static Logger& defaultLogger();

    int level() const { return level_.load(std::memory_order_relaxed); }
    void setLevel(int level) { level_.store(level, std::memory_order_relaxed); }
    /// An empty pattern means the default pattern.
    void setPattern(std::string pattern) { pattern_ = std::move(pattern); }
    /// An empty sink means standard output (line end and flush added).
    void setSink(Sink sink) { sink_ = std::move(sink); }

    /// printf-style; messages below the logger's level return before any formatting.
    void log(int level, const SourceLocation& where, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    /// Expands `pattern` (empty: the default) for one message at time `nowMs`.
    /// A pure function of its arguments and the local time zone.
    static std::string expand(const std::string& pattern, int level, const SourceLocation& where,
                              const std::string& message, std::int64_t nowMs,
                              unsigned long threadId, const std::string& loggerName);

    static const char* levelWord(int level);

private:
    std::string name_;
    std::string pattern_;
    std::atomic<int> level_;
    std::mutex mutex_;
    Sink sink_;
};

} // namespace lumo

#define LUMO_HERE ::lumo::SourceLocation::make(__FILE__, __LINE__)

/// Logs through `logger` at `level` with the caller's source location.
#define LUMO_LOG_TO(logger, level, ...) (logger).log((level), LUMO_HERE, __VA_ARGS__)

#define LUMO_LOG_DEBUG(...)                                                                        \
    LUMO_LOG_TO(::lumo::Logger::defaultLogger(), ::lumo::Logger::Debug, __VA_ARGS__)
#define LUMO_LOG_INFO(...)                                                                         \
    LUMO_LOG_TO(::lumo::Logger::defaultLogger(), ::lumo::Logger::Info, __VA_ARGS__)
#define LUMO_LOG_WARN(...)                                                                         \
    LUMO_LOG_TO(::lumo::Logger::defaultLogger(), ::lumo::Logger::Warn, __VA_ARGS__)
#define LUMO_LOG_ERROR(...)                                                                        \
    LUMO_LOG_TO(::lumo::Logger::defaultLogger(), ::lumo::Logger::Error, __VA_ARGS__)
