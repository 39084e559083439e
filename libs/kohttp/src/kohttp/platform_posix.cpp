#include "platform.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kohttp::detail {

namespace {

std::string tempDir() {
    const char* dir = std::getenv("TMPDIR");
    return (dir && *dir) ? dir : "/tmp";
}

} // namespace

std::FILE* openTempFile(bool named, std::string* path) {
    if (!named) {
        return std::tmpfile();
    }
    std::string name = tempDir() + "/kohttp-upload-XXXXXX";
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "w+b");
    if (!file) {
        ::close(fd);
        ::unlink(name.c_str());
        return nullptr;
    }
    *path = name;
    return file;
}

void removeFile(const std::string& path) {
    ::unlink(path.c_str());
}

std::FILE* openForRead(const std::string& path, std::int64_t* size) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    *size = static_cast<std::int64_t>(st.st_size);
    return file;
}

bool seekTo(std::FILE* file, std::int64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

} // namespace kohttp::detail
