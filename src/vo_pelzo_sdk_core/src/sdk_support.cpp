#include "sdk_support.h"

#include <chrono>

int64_t sdkNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
