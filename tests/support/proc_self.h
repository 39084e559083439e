// What this process holds, read from /proc as any local program could: for tests and
// benchmarks that check nothing piles up (threads, descriptors, memory).
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace procself {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when absent.
inline long statusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::atol(line.c_str() + prefix.size());
    return -1;
}

// Entries of a folder such as /proc/self/task (threads) or /proc/self/fd (descriptors),
// without "." and "..".
inline int entries(const char* folder) {
    int n = 0;
    if (DIR* d = opendir(folder)) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

inline int threads() {
    return entries("/proc/self/task");
}

inline int descriptors() {
    return entries("/proc/self/fd");
}

// How many descriptors of this process have the file `path` open.
inline int openCopies(const std::string& path) {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            char target[4096] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
            n += len > 0 && path == std::string(target, size_t(len));
        }
        closedir(d);
    }
    return n;
}

} // namespace procself
