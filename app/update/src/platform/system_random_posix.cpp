#include "platform/system_random.h"

#include <cerrno>
#include <sys/random.h>

namespace murlo::platform {

bool systemRandom(char* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = getrandom(out + done, n - done, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += size_t(got);
    }
    return true;
}

} // namespace murlo::platform
