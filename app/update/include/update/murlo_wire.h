// Public: the file-transfer protocol's bytes (frames, field marshalling, the
// messages). Pure functions over bytes, no sockets, no Qt objects.
#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace murlo {

// Frame: payload length, command, sequence value (u32 little-endian each), payload.
constexpr int kHeaderSize = 12;
// Terminal messages are a few hundred bytes; anything longer than this is not a
// terminal talking, and buffering it would let one connection eat memory.
constexpr quint32 kMaxIncomingPayload = 64 * 1024;
// Largest piece of a package in one pushed chunk.
constexpr int kChunkSize = 65536;

enum Command : quint32 {
    KeyExchange = 101,
    LoginReq = 1001,
    LoginResp = 1002,
    PingReq = 1003,
    PingResp = 1004,
    ListAppReq = 2001,
    ListAppResp = 2002,
    DownloadFileReq = 3001,
    DownloadFileResp = 3002,
    FileChunkPutReq = 3003,
    FinishDownloadFileReq = 3005,
    FinishDownloadFileResp = 3006,
};

struct FrameHeader {
    quint32 length = 0;
    quint32 command = 0;
    quint32 sequence = 0;
};

struct Frame {
    quint32 command = 0;
    quint32 sequence = 0;
    QByteArray payload;
};

// The 12 header bytes.
void appendHeader(QByteArray& out, const FrameHeader& header);
// Reads a header from 12 bytes at p.
FrameHeader readHeader(const char* p);
// Header and payload in one buffer.
QByteArray encodeFrame(quint32 command, quint32 sequence, const QByteArray& payload);

enum class TakeResult { Frame, NeedMore, TooLong };
// Takes the first complete frame off the front of buffer. TooLong (nothing
// removed) when the header announces more than maxPayload bytes.
TakeResult takeFrame(QByteArray& buffer, Frame* frame, quint32 maxPayload = kMaxIncomingPayload);

// Lengths of strings: big-endian base-128, high bit set on every byte but the last.
void appendLength(QByteArray& out, quint64 length);
// Reads a length at *pos; false (pos at end) when the bytes run out before the last
// byte or the number does not fit 64 bits.
bool readLength(const QByteArray& in, int* pos, quint64* length);

// Writes fields in order: integers little-endian, strings with their length.
class Writer {
public:
    Writer& u8(quint8 v);
    Writer& u32(quint32 v);
    Writer& u64(quint64 v);
    Writer& i64(qint64 v) { return u64(quint64(v)); }
    Writer& bytes(const QByteArray& v);
    // Reserves room for the fields to come, for large payloads.
    void reserve(int n) { out_.reserve(n); }
    const QByteArray& result() const { return out_; }

private:
    QByteArray out_;
};

// Reads fields in order. A field for which too few bytes remain reads as 0 (or an
// empty string) and leaves the reader at the end, so later fields read as 0 too.
class Reader {
public:
    explicit Reader(const QByteArray& in) : in_(in) {}
    quint8 u8();
    quint32 u32();
    quint64 u64();
    qint64 i64() { return qint64(u64()); }
    QByteArray bytes();
    bool atEnd() const { return pos_ >= in_.size(); }

private:
    quint64 fixed(int width);
    QByteArray in_; // shared, not copied
    int pos_ = 0;
};

struct KUB_KeyExchangeReq {
    QByteArray key;
};
struct KUB_KeyExchangeResp {
    QByteArray key;
};
struct KUB_LoginReq {
    QByteArray did;
    QList<QByteArray> first;  // five strings after did
    quint8 flag = 0;          // the login byte
    QList<QByteArray> second; // nine strings; the eighth is arch, the ninth type
    QByteArray arch() const { return second.value(7); }
    QByteArray type() const { return second.value(8); }
};
struct KUB_LoginResp {
    quint8 result = 1;
    QByteArray message;
};
struct KUB_PingReq {};
struct KUB_PingResp {};
struct KUB_ListAppReq {};
struct KUB_AppInfo {
    qint64 fileId = 0;
    QByteArray name;
    QByteArray version;
    QByteArray md5;
    quint32 size = 0;
    quint64 time = 0;
    QByteArray desc;
};
struct KUB_ListAppResp {
    // The count travels in one byte.
    static constexpr int kMaxApps = 255;
    quint32 code = 200;
    QByteArray message;
    QList<KUB_AppInfo> apps;
};
struct KUB_DownloadFileReq {
    qint64 fileId = 0;
};
struct KUB_DownloadFileResp {
    quint32 code = 200;
    QByteArray message;
    quint32 size = 0;
};
struct KUB_FileChunkPutReq {
    qint64 fileId = 0;
    quint32 length = 0;
    QByteArray data;
    qint64 offset = 0;
};
struct KUB_FinishDownloadFileReq {
    qint64 fileId = 0;
};
struct KUB_FinishDownloadFileResp {};

QByteArray marshal(const KUB_KeyExchangeReq& m);
QByteArray marshal(const KUB_KeyExchangeResp& m);
QByteArray marshal(const KUB_LoginReq& m);
QByteArray marshal(const KUB_LoginResp& m);
QByteArray marshal(const KUB_PingReq& m);
QByteArray marshal(const KUB_PingResp& m);
QByteArray marshal(const KUB_ListAppReq& m);
// At most kMaxApps entries are written; the count says how many.
QByteArray marshal(const KUB_ListAppResp& m);
QByteArray marshal(const KUB_DownloadFileReq& m);
QByteArray marshal(const KUB_DownloadFileResp& m);
QByteArray marshal(const KUB_FileChunkPutReq& m);
QByteArray marshal(const KUB_FinishDownloadFileReq& m);
QByteArray marshal(const KUB_FinishDownloadFileResp& m);

// Every body reads into its message; missing fields read as 0 or empty.
void unmarshal(const QByteArray& in, KUB_KeyExchangeReq* m);
void unmarshal(const QByteArray& in, KUB_KeyExchangeResp* m);
void unmarshal(const QByteArray& in, KUB_LoginReq* m);
void unmarshal(const QByteArray& in, KUB_LoginResp* m);
void unmarshal(const QByteArray& in, KUB_PingReq* m);
void unmarshal(const QByteArray& in, KUB_PingResp* m);
void unmarshal(const QByteArray& in, KUB_ListAppReq* m);
void unmarshal(const QByteArray& in, KUB_ListAppResp* m);
void unmarshal(const QByteArray& in, KUB_DownloadFileReq* m);
void unmarshal(const QByteArray& in, KUB_DownloadFileResp* m);
void unmarshal(const QByteArray& in, KUB_FileChunkPutReq* m);
void unmarshal(const QByteArray& in, KUB_FinishDownloadFileReq* m);
void unmarshal(const QByteArray& in, KUB_FinishDownloadFileResp* m);

// A pushed chunk (command 3003, sequence 1) around its data: the frame header and the
// fields before the data, and the offset after it. Servers send the three pieces as one
// frame without first copying the data into a body.
struct ChunkFrame {
    QByteArray head;
    QByteArray tail;
};
ChunkFrame chunkFrameAround(qint64 fileId, qint64 offset, int dataLength);
// The body alone (KUB_FileChunkPutReq), built straight from the data.
QByteArray chunkPayload(qint64 fileId, qint64 offset, const char* data, int dataLength);
// Bytes a pushed chunk's frame takes on the wire (header and body).
int chunkFrameSize(int dataLength);

} // namespace murlo
