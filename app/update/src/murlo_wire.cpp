#include "update/murlo_wire.h"

#include <cstring>

namespace murlo {

namespace {

void putLe(char* p, quint64 v, int width) {
    for (int i = 0; i < width; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}

quint64 getLe(const char* p, int width) {
    quint64 v = 0;
    for (int i = 0; i < width; ++i)
        v |= quint64(quint8(p[i])) << (8 * i);
    return v;
}

} // namespace

void appendHeader(QByteArray& out, const FrameHeader& header) {
    char bytes[kHeaderSize];
    putLe(bytes, header.length, 4);
    putLe(bytes + 4, header.command, 4);
    putLe(bytes + 8, header.sequence, 4);
    out.append(bytes, kHeaderSize);
}

FrameHeader readHeader(const char* p) {
    return FrameHeader{quint32(getLe(p, 4)), quint32(getLe(p + 4, 4)), quint32(getLe(p + 8, 4))};
}

QByteArray encodeFrame(quint32 command, quint32 sequence, const QByteArray& payload) {
    QByteArray out;
    out.reserve(kHeaderSize + payload.size());
    appendHeader(out, FrameHeader{quint32(payload.size()), command, sequence});
    out.append(payload);
    return out;
}

TakeResult takeFrame(QByteArray& buffer, Frame* frame, quint32 maxPayload) {
    if (buffer.size() < kHeaderSize)
        return TakeResult::NeedMore;
    const FrameHeader h = readHeader(buffer.constData());
    if (h.length > maxPayload)
        return TakeResult::TooLong;
    if (quint64(buffer.size()) < quint64(h.length) + kHeaderSize)
        return TakeResult::NeedMore;
    frame->command = h.command;
    frame->sequence = h.sequence;
    frame->payload = buffer.mid(kHeaderSize, int(h.length));
    buffer.remove(0, kHeaderSize + int(h.length));
    return TakeResult::Frame;
}

void appendLength(QByteArray& out, quint64 length) {
    char groups[10];
    int n = 0;
    do {
        groups[n++] = char(length & 0x7F);
        length >>= 7;
    } while (length != 0);
    // Most significant group first; every byte but the last carries the high bit.
    for (int i = n - 1; i >= 0; --i)
        out.append(char(groups[i] | (i > 0 ? 0x80 : 0)));
}

bool readLength(const QByteArray& in, int* pos, quint64* length) {
    quint64 v = 0;
    while (*pos < in.size()) {
        const quint8 b = quint8(in[*pos]);
        ++*pos;
        if (v >> 57) // seven more bits would not fit
            break;
        v = (v << 7) | (b & 0x7F);
        if (!(b & 0x80)) {
            *length = v;
            return true;
        }
    }
    *pos = in.size();
    return false;
}

Writer& Writer::u8(quint8 v) {
    out_.append(char(v));
    return *this;
}

Writer& Writer::u32(quint32 v) {
    char b[4];
    putLe(b, v, 4);
    out_.append(b, 4);
    return *this;
}

Writer& Writer::u64(quint64 v) {
    char b[8];
    putLe(b, v, 8);
    out_.append(b, 8);
    return *this;
}

Writer& Writer::bytes(const QByteArray& v) {
    appendLength(out_, quint64(v.size()));
    out_.append(v);
    return *this;
}

quint64 Reader::fixed(int width) {
    if (in_.size() - pos_ < width) {
        pos_ = in_.size();
        return 0;
    }
    const quint64 v = getLe(in_.constData() + pos_, width);
    pos_ += width;
    return v;
}

quint8 Reader::u8() {
    return quint8(fixed(1));
}

quint32 Reader::u32() {
    return quint32(fixed(4));
}

quint64 Reader::u64() {
    return fixed(8);
}

QByteArray Reader::bytes() {
    quint64 length = 0;
    if (!readLength(in_, &pos_, &length))
        return {};
    if (length > quint64(in_.size() - pos_)) {
        pos_ = in_.size();
        return {};
    }
    const QByteArray v = in_.mid(pos_, int(length));
    pos_ += int(length);
    return v;
}

QByteArray marshal(const KUB_KeyExchangeReq& m) {
    return Writer().bytes(m.key).result();
}

QByteArray marshal(const KUB_KeyExchangeResp& m) {
    return Writer().bytes(m.key).result();
}

QByteArray marshal(const KUB_LoginReq& m) {
    Writer w;
    w.bytes(m.did);
    for (int i = 0; i < 5; ++i)
        w.bytes(m.first.value(i));
    w.u8(m.flag);
    for (int i = 0; i < 9; ++i)
        w.bytes(m.second.value(i));
    return w.result();
}

QByteArray marshal(const KUB_LoginResp& m) {
    return Writer().u8(m.result).bytes(m.message).result();
}

QByteArray marshal(const KUB_PingReq&) {
    return {};
}

QByteArray marshal(const KUB_PingResp&) {
    return {};
}

QByteArray marshal(const KUB_ListAppReq&) {
    return {};
}

QByteArray marshal(const KUB_ListAppResp& m) {
    Writer w;
    const int count = qMin(m.apps.size(), KUB_ListAppResp::kMaxApps);
    w.u32(m.code).bytes(m.message).u8(quint8(count));
    for (int i = 0; i < count; ++i) {
        const KUB_AppInfo& a = m.apps[i];
        w.i64(a.fileId).bytes(a.name).bytes(a.version).bytes(a.md5).u32(a.size).u64(a.time).bytes(
            a.desc);
    }
    return w.result();
}

QByteArray marshal(const KUB_DownloadFileReq& m) {
    return Writer().i64(m.fileId).result();
}

QByteArray marshal(const KUB_DownloadFileResp& m) {
    return Writer().u32(m.code).bytes(m.message).u32(m.size).result();
}

QByteArray marshal(const KUB_FileChunkPutReq& m) {
    Writer w;
    w.reserve(8 + 4 + 10 + m.data.size() + 8);
    w.i64(m.fileId).u32(m.length).bytes(m.data).i64(m.offset);
    return w.result();
}

QByteArray marshal(const KUB_FinishDownloadFileReq& m) {
    return Writer().i64(m.fileId).result();
}

QByteArray marshal(const KUB_FinishDownloadFileResp&) {
    return {};
}

void unmarshal(const QByteArray& in, KUB_KeyExchangeReq* m) {
    m->key = Reader(in).bytes();
}

void unmarshal(const QByteArray& in, KUB_KeyExchangeResp* m) {
    m->key = Reader(in).bytes();
}

void unmarshal(const QByteArray& in, KUB_LoginReq* m) {
    Reader r(in);
    m->did = r.bytes();
    m->first.clear();
    for (int i = 0; i < 5; ++i)
        m->first << r.bytes();
    m->flag = r.u8();
    m->second.clear();
    for (int i = 0; i < 9; ++i)
        m->second << r.bytes();
}

void unmarshal(const QByteArray& in, KUB_LoginResp* m) {
    Reader r(in);
    m->result = r.u8();
    m->message = r.bytes();
}

void unmarshal(const QByteArray&, KUB_PingReq*) {}
void unmarshal(const QByteArray&, KUB_PingResp*) {}
void unmarshal(const QByteArray&, KUB_ListAppReq*) {}

void unmarshal(const QByteArray& in, KUB_ListAppResp* m) {
    Reader r(in);
    m->code = r.u32();
    m->message = r.bytes();
    const int count = r.u8();
    m->apps.clear();
    for (int i = 0; i < count && !r.atEnd(); ++i) {
        KUB_AppInfo a;
        a.fileId = r.i64();
        a.name = r.bytes();
        a.version = r.bytes();
        a.md5 = r.bytes();
        a.size = r.u32();
        a.time = r.u64();
        a.desc = r.bytes();
        m->apps << a;
    }
}

void unmarshal(const QByteArray& in, KUB_DownloadFileReq* m) {
    m->fileId = Reader(in).i64();
}

void unmarshal(const QByteArray& in, KUB_DownloadFileResp* m) {
    Reader r(in);
    m->code = r.u32();
    m->message = r.bytes();
    m->size = r.u32();
}

void unmarshal(const QByteArray& in, KUB_FileChunkPutReq* m) {
    Reader r(in);
    m->fileId = r.i64();
    m->length = r.u32();
    m->data = r.bytes();
    m->offset = r.i64();
}

void unmarshal(const QByteArray& in, KUB_FinishDownloadFileReq* m) {
    m->fileId = Reader(in).i64();
}

void unmarshal(const QByteArray&, KUB_FinishDownloadFileResp*) {}

ChunkFrame chunkFrameAround(qint64 fileId, qint64 offset, int dataLength) {
    Writer fields;
    fields.i64(fileId).u32(quint32(dataLength));
    QByteArray before = fields.result();
    appendLength(before, quint64(dataLength));
    ChunkFrame f;
    f.tail = Writer().i64(offset).result();
    appendHeader(f.head, FrameHeader{quint32(before.size() + dataLength + f.tail.size()),
                                     FileChunkPutReq, 1});
    f.head.append(before);
    return f;
}

QByteArray chunkPayload(qint64 fileId, qint64 offset, const char* data, int dataLength) {
    const ChunkFrame f = chunkFrameAround(fileId, offset, dataLength);
    QByteArray out;
    out.reserve(f.head.size() - kHeaderSize + dataLength + f.tail.size());
    out.append(f.head.constData() + kHeaderSize, f.head.size() - kHeaderSize);
    out.append(data, dataLength);
    out.append(f.tail);
    return out;
}

int chunkFrameSize(int dataLength) {
    QByteArray length;
    appendLength(length, quint64(dataLength));
    return kHeaderSize + 8 + 4 + length.size() + dataLength + 8;
}

} // namespace murlo
