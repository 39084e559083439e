#include "update/tarreader.h"

#include <QDebug>

#include <cstdio>
#include <cstring>
#include <limits>

namespace tar {

qint64 parseOctal(const char* field, int width) {
    int i = 0;
    while (i < width && field[i] == ' ')
        ++i;
    qint64 v = 0;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (v > (std::numeric_limits<qint64>::max() >> 3))
            break; // stays above every valid size
        v = (v << 3) | (field[i] - '0');
    }
    return v;
}

Header parseHeader(const char* block) {
    Header h;
    h.ustar = std::memcmp(block + 257, "ustar", 5) == 0;
    h.name = QByteArray(block, int(qstrnlen(block, 100)));
    h.size = parseOctal(block + 124, 12);
    h.type = block[156];
    return h;
}

Scan scan(qint64 fileSize, const BlockReader& readBlock) {
    Scan result;
    if (fileSize % kBlockSize != 0) {
        result.error =
            QStringLiteral("tar file size should be a multiple of 512 bytes: %1").arg(fileSize);
        return result;
    }
    char block[kBlockSize];
    qint64 pos = 0;
    bool more = readBlock(pos, block);
    while (more) {
        const Header h = parseHeader(block);
        if (!h.ustar)
            break;
        const qint64 dataOffset = pos + kBlockSize;
        if (h.size > std::numeric_limits<qint32>::max() || h.size > fileSize - dataOffset) {
            result.error = QStringLiteral("member \"%1\" at offset %2 claims %3 bytes, but the "
                                          "file has %4 bytes: the archive is damaged")
                               .arg(QString::fromUtf8(h.name))
                               .arg(pos)
                               .arg(h.size)
                               .arg(fileSize);
            result.members.clear();
            return result;
        }
        if (h.isRegularFile())
            result.members.insert(h.name, Member{h.name, dataOffset, qint32(h.size)});
        const qint64 padded = (h.size + kBlockSize - 1) / kBlockSize * kBlockSize;
        pos = dataOffset + padded;
        more = pos + kBlockSize <= fileSize && readBlock(pos, block);
    }
    result.ok = true;
    return result;
}

Scan scanBytes(const QByteArray& archive) {
    return scan(archive.size(), [&archive](qint64 pos, char* block) {
        if (pos < 0 || pos + kBlockSize > archive.size())
            return false;
        std::memcpy(block, archive.constData() + pos, kBlockSize);
        return true;
    });
}

} // namespace tar

TarReader::TarReader(const QString& path) : file_(path) {
    if (!file_.open(QIODevice::ReadOnly))
        error_ = file_.errorString();
}

bool TarReader::isOpen() const {
    return file_.isOpen();
}

bool TarReader::scan() {
    std::lock_guard<std::mutex> lock(mutex_);
    members_.clear();
    if (!file_.isOpen())
        return false;
    const qint64 fileSize = file_.size();
    const tar::Scan s = tar::scan(fileSize, [this](qint64 pos, char* block) {
        return file_.seek(pos) && file_.read(block, tar::kBlockSize) == tar::kBlockSize;
    });
    file_.seek(0);
    if (fileSize % tar::kBlockSize != 0)
        std::fprintf(stderr, "tar file size should be a multiple of 512 bytes: %lld\n",
                     static_cast<long long>(fileSize));
    if (!s.ok) {
        error_ = s.error;
        return false;
    }
    members_ = s.members;
    for (const tar::Member& m : members_)
        qDebug() << "file" << m.name << "offset" << m.offset << "size" << m.size;
    return true;
}

QString TarReader::errorString() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

qint32 TarReader::size(const QByteArray& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return members_.value(name).size;
}

bool TarReader::read(const QByteArray& name, char* buffer) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = members_.constFind(name);
    if (it == members_.constEnd() || !file_.seek(it->offset))
        return false;
    const bool ok = file_.read(buffer, it->size) == it->size;
    file_.seek(0);
    return ok;
}

bool TarReader::read(const QByteArray& name, QByteArray* data) const {
    const qint32 n = size(name);
    data->resize(n);
    return read(name, data->data());
}
