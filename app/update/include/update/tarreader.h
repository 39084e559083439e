// Public: the reader of update bundles, POSIX ustar archives.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QString>
#include <mutex>

#include <functional>

namespace tar {

constexpr int kBlockSize = 512;

// The header fields a bundle uses.
struct Header {
    bool ustar = false; // "ustar" at offset 257
    QByteArray name;    // offset 0, up to the first NUL
    qint64 size = 0;    // offset 124, octal
    char type = 0;      // offset 156
    bool isRegularFile() const { return type == '\0' || type == '0'; }
};

// Octal digits of a field: leading blanks skipped, stops at the first non-octal byte.
// Never negative; saturates far above any valid member size.
qint64 parseOctal(const char* field, int width);
Header parseHeader(const char* block); // kBlockSize bytes

struct Member {
    QByteArray name;
    qint64 offset = 0; // of the data: header position + 512
    qint32 size = 0;
};

struct Scan {
    bool ok = false;
    QString error;                    // why the scan failed, empty on success
    QMap<QByteArray, Member> members; // regular files by name; a later header wins
};

// Reads the block at pos into a kBlockSize buffer; false past the end or on error.
using BlockReader = std::function<bool(qint64 pos, char* block)>;

// Walks the headers of an archive of fileSize bytes. Fails for a size that is not a
// multiple of 512 and for any header whose size cannot be a member of this file
// (above 2^31 - 1 bytes or running past its end). The first block without the magic
// ends the walk.
Scan scan(qint64 fileSize, const BlockReader& readBlock);
// The same over an archive held in memory.
Scan scanBytes(const QByteArray& archive);

} // namespace tar

// Reads the members of one archive file. size() and read() are serialised by a
// mutex, so one reader may be shared between threads.
class TarReader {
public:
    // Opens the file for reading; a file that cannot be opened leaves the reader closed.
    explicit TarReader(const QString& path);

    bool isOpen() const;
    // Builds the member table. On failure errorString() says why; a file size that is
    // not a multiple of 512 is also reported on standard error.
    bool scan();
    QString errorString() const;

    // Size of a regular member, 0 when absent.
    qint32 size(const QByteArray& name) const;
    // Copies the member's data into buffer (at least size(name) bytes).
    bool read(const QByteArray& name, char* buffer) const;
    // The member's data; false when absent or unreadable.
    bool read(const QByteArray& name, QByteArray* data) const;

private:
    mutable std::mutex mutex_;
    mutable QFile file_;
    QMap<QByteArray, tar::Member> members_;
    QString error_;
};
