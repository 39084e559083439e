// Runs shell commands from tests that drive outside programs (cmake, cpack, dpkg-deb,
// pkg-config, the compiler, programs under test).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace command {

// The variable's value, or "" when it is not set.
inline std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// `s` as one word for /bin/sh.
inline std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command; returns its exit status (-1 when it did not exit normally) and
// gives its standard output and error, interleaved as they came.
inline int run(const std::string& line, std::string* output = nullptr) {
    std::string out;
    FILE* pipe = ::popen((line + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    const int status = ::pclose(pipe);
    if (output)
        *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace command
