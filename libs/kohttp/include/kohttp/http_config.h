// Public header of kohttp: the configuration that picks one of the two
// builds of the message layer (the manager's and the SDK's) at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kohttp {

enum class LogLevel { Debug, Info, Warn, Error };

// Receives the layer's log lines; file and line name the code that logged.
using LogFn = std::function<void(LogLevel, const char* file, int line, const std::string& msg)>;

// Upper bounds on what one peer may make us hold; each one protects memory or
// disk from a request that never ends.
struct HttpLimits {
    std::size_t maxHeadBytes = 64 * 1024;             // request line and headers
    std::size_t maxBodyBytes = 16 * 1024 * 1024;      // body (or multipart text parts) in memory
    std::int64_t maxUploadBytes = 0x7fffffff;         // multipart file bytes of one request
    std::size_t maxParts = 64;                        // multipart parts of one request
    std::size_t maxPartHeadBytes = 8 * 1024;          // headers of one multipart part
    std::size_t maxRanges = 32;                       // byte ranges of one Range header
    std::size_t maxWsMessageBytes = 16 * 1024 * 1024; // one WebSocket message
    std::size_t maxReceiveBuffer = 32 * 1024 * 1024;  // unconsumed bytes of one session
    // Answers waiting to leave one session; above it the session reads and
    // dispatches nothing more until the peer has taken some (a peer that
    // pipelines requests and never reads cannot make us hold its answers).
    std::size_t maxPendingOutput = 8 * 1024 * 1024;
};

struct HttpConfig {
    // Interpret the "range" header into HttpRequest::ranges (otherwise it is
    // kept in the headers like any other).
    bool parseRange = true;
    // Honour HttpResponse::filePath and its ranges (206/404/416).
    bool fileResponses = true;
    // Status 304 goes out without a Content-Length line.
    bool omitLengthOn304 = false;
    // Write the body as a second block even when it is empty.
    bool alwaysWriteBody = false;
    // Write the head together with the body (an in-memory body up to
    // kHeadWithBodyLimit, a file body with its first block), so an answer
    // leaves in one write and never waits for the peer's delayed
    // acknowledgement of the head. A larger body goes as a block of its own:
    // copying it would cost more than the second write.
    bool headWithBody = false;
    static constexpr std::size_t kHeadWithBodyLimit = 256 * 1024;
    // Multipart file parts go to a named temporary file (its path can be
    // handed on) instead of an anonymous one.
    bool namedTempFiles = true;
    // WebSocket: assemble fragmented messages (otherwise every text or binary
    // frame is a message and continuations are skipped); pass pongs on to the
    // message handler; close a subscriber whose ping went unanswered.
    bool wsAssembleFragments = true;
    bool wsDispatchPong = false;
    bool wsCloseUnanswered = false;
    LogLevel tempFileFailureLevel = LogLevel::Warn;
    std::string tempFileFailureText = "Failed to open temporary file";
    HttpLimits limits;
    LogFn log; // empty: lines go to standard error

    // The desktop manager's build: ranges, file responses, named temporary files.
    static std::shared_ptr<const HttpConfig> manager();
    // The SDK's build: no range handling, the 304 rule, head and body as two
    // writes, anonymous temporary files, errors logged at error level.
    static std::shared_ptr<const HttpConfig> sdk(LogFn log = {});
};

using HttpConfigPtr = std::shared_ptr<const HttpConfig>;

} // namespace kohttp
