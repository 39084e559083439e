#include <kohttp/http_config.h>

#include "log.h"

#include <cstdio>

namespace kohttp {

std::shared_ptr<const HttpConfig> HttpConfig::manager() {
    static const auto config = std::make_shared<const HttpConfig>();
    return config;
}

std::shared_ptr<const HttpConfig> HttpConfig::sdk(LogFn log) {
    auto config = std::make_shared<HttpConfig>();
    config->parseRange = false;
    config->fileResponses = false;
    config->omitLengthOn304 = true;
    config->alwaysWriteBody = true;
    config->namedTempFiles = false;
    config->wsAssembleFragments = false;
    config->wsDispatchPong = true;
    config->wsCloseUnanswered = true;
    config->tempFileFailureLevel = LogLevel::Error;
    config->tempFileFailureText = "failed to open temporary file";
    config->log = std::move(log);
    return config;
}

namespace detail {

void log(const HttpConfig& config, LogLevel level, const char* file, int line,
         const std::string& msg) {
    if (config.log) {
        config.log(level, file, line, msg);
        return;
    }
    static const char* const names[] = {"debug", "info", "warn", "error"};
    std::fprintf(stderr, "[%s] [%s:%d] %s\n", names[static_cast<int>(level)], file, line,
                 msg.c_str());
}

} // namespace detail
} // namespace kohttp
