// The simulated terminal's side of the file-transfer protocol on TCP 9208: frames,
// field encoding, the key agreement and RC4. Written for the terminal, apart from the
// manager's code, so that each side checks the other. Pure functions over bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simmurlo {

constexpr uint16_t kPort = 9208;

namespace cmd {
constexpr uint32_t keyExchange = 101, login = 1001, loginReply = 1002, ping = 1003,
                   pingReply = 1004, listApps = 2001, listReply = 2002, download = 3001,
                   downloadReply = 3002, chunk = 3003, finish = 3005, finishReply = 3006;
}

// RC4 keystream (key schedule and output of the published algorithm).
class Rc4 {
public:
    explicit Rc4(const std::string& key);
    uint8_t byte();
    void crypt(char* data, size_t n);

private:
    uint8_t s_[256];
    uint8_t x_ = 0, y_ = 0;
};

// Numbers below 2^128 as four 32-bit words, least significant first.
using Num = std::array<uint32_t, 4>;
// Modulo 2^128 - 159, generator 5; numbers travel as 16 little-endian bytes.
Num numFromBytes(const std::string& sixteen);
std::string numToBytes(const Num& n);
Num modMul(const Num& a, const Num& b);
Num modPow(Num base, const Num& exponent);
// 5^secret mod p.
Num publicValue(const Num& secret);

// Field writers and readers: little-endian integers, strings behind a base-128
// big-endian length (high bit on all bytes but the last).
void putU8(std::string& out, uint8_t v);
void putU32(std::string& out, uint32_t v);
void putU64(std::string& out, uint64_t v);
void putLength(std::string& out, uint64_t n);
void putString(std::string& out, const std::string& s);

class Fields {
public:
    explicit Fields(const std::string& body) : body_(body) {}
    uint8_t u8();
    uint32_t u32();
    uint64_t u64();
    std::string str();
    bool failed() const { return failed_; } // a field ran past the end

private:
    bool take(size_t n, const char** p);
    const std::string& body_;
    size_t at_ = 0;
    bool failed_ = false;
};

struct AppInfo {
    int64_t fileId = 0;
    std::string name, version, md5;
    uint32_t size = 0;
    uint64_t time = 0;
    std::string desc;
};

struct ListReply {
    uint32_t code = 0;
    std::string message;
    std::vector<AppInfo> apps;
};

struct DownloadReply {
    uint32_t code = 0;
    std::string message;
    uint32_t size = 0;
};

struct Chunk {
    int64_t fileId = 0;
    uint32_t length = 0;
    std::string data;
    int64_t offset = 0;
};

struct Identity {
    std::string did = "SIM-0001";
    std::string arch = "armv7";
    std::string type = "speaker";
};

std::string keyExchangeBody(const std::string& key);
// did, five strings, one byte, nine strings of which the eighth is arch, the ninth type.
std::string loginBody(const Identity& who);
std::string fileIdBody(int64_t fileId); // download and finish requests

std::optional<std::string> parseKeyReply(const std::string& body);
std::optional<uint8_t> parseLoginReply(const std::string& body);
std::optional<ListReply> parseListReply(const std::string& body);
std::optional<DownloadReply> parseDownloadReply(const std::string& body);
std::optional<Chunk> parseChunk(const std::string& body);

struct Frame {
    uint32_t command = 0;
    uint32_t sequence = 0;
    std::string body;
};

// One connection's framing, with RC4 in each direction once keyed.
class Codec {
public:
    // The frame's bytes as they go on the wire.
    std::string encode(uint32_t command, uint32_t sequence, const std::string& body);
    // Adds received bytes; complete frames come out of next().
    void feed(const char* data, size_t n);
    std::optional<Frame> next();
    // Keys both directions: every byte from now on is encrypted.
    void setKey(const std::string& key);
    bool encrypted() const { return tx_.has_value(); }
    size_t buffered() const { return in_.size() - at_; }

private:
    std::optional<Rc4> tx_, rx_;
    std::string in_;
    size_t at_ = 0;        // start of the next frame
    size_t decrypted_ = 0; // bytes before this have been through the keystream
};

} // namespace simmurlo
