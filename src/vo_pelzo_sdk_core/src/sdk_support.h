// Clock and log helpers shared by the core's sources.
#pragma once

#include <cstdint>
#include <cstdio>

int64_t sdkNowMs();

#define SDK_LOG_INFO(...) (std::printf(__VA_ARGS__), std::printf("\n"))
#define SDK_LOG_ERROR(...) (std::printf(__VA_ARGS__), std::printf("\n"))
