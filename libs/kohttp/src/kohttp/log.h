// Logging through the configuration's hook (private).
#pragma once

#include <kohttp/http_config.h>

namespace kohttp::detail {

void log(const HttpConfig& config, LogLevel level, const char* file, int line,
         const std::string& msg);

} // namespace kohttp::detail

#define KOHTTP_LOG(config, level, msg)                                                             \
    ::kohttp::detail::log((config), (level), __FILE__, __LINE__, (msg))
