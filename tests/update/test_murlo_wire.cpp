// The file-transfer protocol's bytes: lengths, frames, message bodies, RC4 and the key
// agreement, checked against published vectors and against the simulated terminal's
// own implementation.
#include "murlo_codec.h"
#include "update/keyexchange.h"
#include "update/kubbundle.h"
#include "update/murlo_wire.h"
#include "update/rc4rng.h"

#include <gtest/gtest.h>

#include <random>

using namespace murlo;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

TEST(MurloLength, Base128BigEndian) {
    const struct {
        quint64 value;
        const char* bytes;
    } cases[] = {
        {0, "00"},          {1, "01"},
        {127, "7f"},        {128, "8100"},
        {200, "8148"},      {16383, "ff7f"},
        {16384, "818000"},  {65536, "848000"},
        {150000, "899370"}, {0xFFFFFFFFull, "8fffffff7f"},
    };
    for (const auto& c : cases) {
        QByteArray out;
        appendLength(out, c.value);
        EXPECT_EQ(out.toHex(), QByteArray(c.bytes)) << c.value;
        int pos = 0;
        quint64 back = 0;
        ASSERT_TRUE(readLength(out, &pos, &back)) << c.value;
        EXPECT_EQ(back, c.value);
        EXPECT_EQ(pos, out.size());
    }
}

TEST(MurloLength, BrokenLengthsReadAsEmptyStrings) {
    // Unterminated, longer than what remains, and wider than 64 bits.
    for (const char* body : {"81", "0561", "ffffffffffffffffffff7f61"}) {
        Reader r(hex(body));
        EXPECT_TRUE(r.bytes().isEmpty()) << body;
        EXPECT_TRUE(r.atEnd()) << body;
        EXPECT_EQ(r.u32(), 0u) << body;
    }
}

TEST(MurloFrame, HeaderIsThreeLittleEndianWords) {
    EXPECT_EQ(encodeFrame(1002, 7, "ab").toHex(), QByteArray("02000000ea030000070000006162"));
    const FrameHeader h = readHeader(hex("0100000001010000ffffffff").constData());
    EXPECT_EQ(h.length, 1u);
    EXPECT_EQ(h.command, 257u);
    EXPECT_EQ(h.sequence, 0xFFFFFFFFu);
}

TEST(MurloFrame, TakesFramesOnlyWhenComplete) {
    const QByteArray one = encodeFrame(2001, 5, "");
    const QByteArray two = encodeFrame(3001, 6, marshal(KUB_DownloadFileReq{9}));
    QByteArray buffer;
    Frame f;
    const QByteArray both = one + two;
    // Fed a byte at a time, each frame comes out exactly when its last byte arrived.
    QList<int> completedAt;
    for (int i = 0; i < both.size(); ++i) {
        buffer.append(both[i]);
        while (takeFrame(buffer, &f) == TakeResult::Frame)
            completedAt << i + 1;
    }
    EXPECT_EQ(completedAt, QList<int>({one.size(), both.size()}));
    EXPECT_EQ(f.command, 3001u);
    EXPECT_EQ(f.sequence, 6u);
    KUB_DownloadFileReq req;
    unmarshal(f.payload, &req);
    EXPECT_EQ(req.fileId, 9);
    EXPECT_TRUE(buffer.isEmpty());
}

TEST(MurloFrame, RefusesLengthsOverTheCap) {
    QByteArray ok;
    appendHeader(ok, FrameHeader{kMaxIncomingPayload, 1001, 1});
    Frame f;
    EXPECT_EQ(takeFrame(ok, &f), TakeResult::NeedMore);
    for (quint32 length : {kMaxIncomingPayload + 1, 0xFFFFFFFFu}) {
        QByteArray big;
        appendHeader(big, FrameHeader{length, 1001, 1});
        EXPECT_EQ(takeFrame(big, &f), TakeResult::TooLong) << length;
        EXPECT_EQ(big.size(), kHeaderSize) << "nothing is taken";
    }
}

TEST(MurloMessages, ListReplyBytes) {
    KUB_ListAppResp r;
    r.apps << KUB_AppInfo{3, "app", "1.0", "ab", 200000, 0, "d"};
    EXPECT_EQ(marshal(r).toHex(), QByteArray("c8000000" // code 200
                                             "00"       // empty message
                                             "01"       // one app
                                             "0300000000000000"
                                             "03617070"
                                             "03312e30"
                                             "026162"
                                             "400d0300"
                                             "0000000000000000"
                                             "0164"));
    KUB_ListAppResp back;
    unmarshal(marshal(r), &back);
    ASSERT_EQ(back.apps.size(), 1);
    EXPECT_EQ(back.apps[0].size, 200000u);
    EXPECT_EQ(back.apps[0].desc, "d");
}

TEST(MurloMessages, ListCountNeverWraps) {
    KUB_ListAppResp r;
    for (int i = 0; i < 300; ++i)
        r.apps << KUB_AppInfo{i, "n", "v", "m", 1, 0, ""};
    KUB_ListAppResp back;
    unmarshal(marshal(r), &back);
    EXPECT_EQ(back.apps.size(), 255);
    EXPECT_EQ(back.apps.last().fileId, 254);
}

TEST(MurloMessages, LoginCarriesArchAndTypeLast) {
    simmurlo::Identity who{"D-1", "armv7", "speaker"};
    KUB_LoginReq req;
    unmarshal(QByteArray::fromStdString(simmurlo::loginBody(who)), &req);
    EXPECT_EQ(req.did, "D-1");
    EXPECT_EQ(req.first.size(), 5);
    EXPECT_EQ(req.arch(), "armv7");
    EXPECT_EQ(req.type(), "speaker");
    EXPECT_EQ(marshal(req), QByteArray::fromStdString(simmurlo::loginBody(who)));
}

TEST(MurloMessages, MissingFieldsReadAsZero) {
    KUB_DownloadFileResp r;
    unmarshal(hex("c8000000"), &r);
    EXPECT_EQ(r.code, 200u);
    EXPECT_TRUE(r.message.isEmpty());
    EXPECT_EQ(r.size, 0u);
    KUB_FileChunkPutReq c;
    unmarshal(hex("0100"), &c);
    EXPECT_EQ(c.fileId, 0);
    EXPECT_EQ(c.length, 0u);
}

TEST(MurloMessages, ChunkPayloadMatchesTheMessage) {
    const QByteArray data(70000, 'x');
    KUB_FileChunkPutReq m{-2, 65536, data.left(65536), 131072};
    EXPECT_EQ(chunkPayload(-2, 131072, data.constData(), 65536), marshal(m));
    EXPECT_EQ(chunkFrameSize(65536), kHeaderSize + marshal(m).size());
    // The pieces around the data make the same frame.
    const ChunkFrame f = chunkFrameAround(-2, 131072, 65536);
    EXPECT_EQ(f.head + data.left(65536) + f.tail, encodeFrame(FileChunkPutReq, 1, marshal(m)));
    // And the simulated terminal reads it back.
    const auto chunk = simmurlo::parseChunk(marshal(m).toStdString());
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->fileId, -2);
    EXPECT_EQ(chunk->offset, 131072);
    EXPECT_EQ(chunk->data.size(), 65536u);
}

TEST(Rc4, PublishedVectors) {
    const struct {
        QByteArray key;
        QByteArray plain;
        const char* cipher;
    } cases[] = {
        {"Key", "Plaintext", "bbf316e8d940af0ad3"},
        {"Wiki", "pedia", "1021bf0420"},
        {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
        {hex("0102030405"), QByteArray(16, '\0'), "b2396305f03dc027ccc3524a0a1118a8"},
    };
    for (const auto& c : cases) {
        QByteArray bulk = c.plain;
        tesmo::RC4RNG(c.key).apply(bulk.data(), size_t(bulk.size()));
        EXPECT_EQ(bulk.toHex(), QByteArray(c.cipher)) << c.key.toStdString();
        tesmo::RC4RNG bytewise(c.key);
        QByteArray one;
        for (char ch : c.plain)
            one.append(char(quint8(ch) ^ bytewise.next()));
        EXPECT_EQ(one, bulk);
    }
}

TEST(KeyAgreement, ArithmeticModuloThePrime) {
    EXPECT_EQ(kPrime + 159, U128(0)) << "2^128 - 159";
    EXPECT_EQ(powMod(5, 0), U128(1));
    EXPECT_EQ(powMod(5, 3), U128(125));
    EXPECT_EQ(powMod(5, kPrime - 1), U128(1)) << "Fermat: p is prime";
    EXPECT_EQ(mulMod(kPrime - 1, kPrime - 1), U128(1)) << "(-1)^2";
    EXPECT_EQ(fromKeyBytes(hex("0100000000000000000000000000000000")), U128(1));
    EXPECT_EQ(toKeyBytes(U128(0x0102)).toHex(), QByteArray("02010000000000000000000000000000"));

    // Against the simulated terminal's own arithmetic on 32-bit words.
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200; ++i) {
        QByteArray a(16, '\0'), b(16, '\0');
        for (int k = 0; k < 16; ++k) {
            a[k] = char(rng());
            b[k] = char(rng());
        }
        const simmurlo::Num sa = simmurlo::numFromBytes(a.toStdString());
        const simmurlo::Num sb = simmurlo::numFromBytes(b.toStdString());
        EXPECT_EQ(toKeyBytes(mulMod(fromKeyBytes(a), fromKeyBytes(b))).toStdString(),
                  simmurlo::numToBytes(simmurlo::modMul(sa, sb)));
        if (i % 20 == 0) {
            EXPECT_EQ(toKeyBytes(powMod(fromKeyBytes(a), fromKeyBytes(b))).toStdString(),
                      simmurlo::numToBytes(simmurlo::modPow(sa, sb)));
        }
    }
}

TEST(KeyAgreement, BothSidesReachTheSameKey) {
    const simmurlo::Num terminalSecret{0x12345678, 0x9abcdef0, 0x0fedcba9, 0x87654321};
    const QByteArray terminalValue =
        QByteArray::fromStdString(simmurlo::numToBytes(simmurlo::publicValue(terminalSecret)));
    const QByteArray x = secretExponent();
    ASSERT_EQ(x.size(), 16);
    const KeyAgreement k = agree(terminalValue, x);
    ASSERT_EQ(k.reply.size(), 16);
    const std::string terminalKey = simmurlo::numToBytes(
        simmurlo::modPow(simmurlo::numFromBytes(k.reply.toStdString()), terminalSecret));
    EXPECT_EQ(k.sessionKey.toStdString(), terminalKey);
}

TEST(KeyAgreement, ExponentComesFreshFromTheSystem) {
    const QByteArray a = secretExponent(), b = secretExponent();
    EXPECT_EQ(a.size(), 16);
    EXPECT_NE(a, b);
}
