#include "murlo_codec.h"

#include <cstring>
#include <utility>

namespace simmurlo {

Rc4::Rc4(const std::string& key) {
    for (int i = 0; i < 256; ++i)
        s_[i] = uint8_t(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = uint8_t(j + s_[i] + uint8_t(key[size_t(i) % key.size()]));
        std::swap(s_[i], s_[j]);
    }
}

uint8_t Rc4::byte() {
    x_ = uint8_t(x_ + 1);
    y_ = uint8_t(y_ + s_[x_]);
    std::swap(s_[x_], s_[y_]);
    return s_[uint8_t(s_[x_] + s_[y_])];
}

void Rc4::crypt(char* data, size_t n) {
    uint8_t x = x_, y = y_;
    for (size_t i = 0; i < n; ++i) {
        x = uint8_t(x + 1);
        const uint8_t sx = s_[x];
        y = uint8_t(y + sx);
        const uint8_t sy = s_[y];
        s_[x] = sy;
        s_[y] = sx;
        data[i] = char(uint8_t(data[i]) ^ s_[uint8_t(sx + sy)]);
    }
    x_ = x;
    y_ = y;
}

// ---- arithmetic modulo 2^128 - 159 on 32-bit words ----

namespace {

const Num kP = {0xFFFFFF61u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};

bool lessThan(const Num& a, const Num& b) {
    for (int i = 3; i >= 0; --i)
        if (a[i] != b[i])
            return a[i] < b[i];
    return false;
}

Num subtract(const Num& a, const Num& b) {
    Num r{};
    int64_t borrow = 0;
    for (int i = 0; i < 4; ++i) {
        int64_t d = int64_t(a[i]) - int64_t(b[i]) - borrow;
        borrow = d < 0 ? 1 : 0;
        r[i] = uint32_t(d + (borrow << 32));
    }
    return r;
}

// Folds words above the fourth back in with 2^128 = 159 (mod p) until none is left.
Num fold(std::vector<uint32_t> w) {
    while (w.size() > 4) {
        std::vector<uint32_t> low(w.begin(), w.begin() + 4);
        std::vector<uint32_t> high(w.begin() + 4, w.end());
        std::vector<uint32_t> sum(std::max(low.size(), high.size() + 1) + 1, 0);
        uint64_t carry = 0;
        for (size_t i = 0; i < sum.size(); ++i) {
            uint64_t v = carry;
            if (i < low.size())
                v += low[i];
            if (i < high.size())
                v += uint64_t(high[i]) * 159u;
            sum[i] = uint32_t(v);
            carry = v >> 32;
        }
        while (sum.size() > 4 && sum.back() == 0)
            sum.pop_back();
        w = sum;
    }
    Num r{};
    for (size_t i = 0; i < w.size(); ++i)
        r[i] = w[i];
    while (!lessThan(r, kP))
        r = subtract(r, kP);
    return r;
}

} // namespace

Num numFromBytes(const std::string& sixteen) {
    Num n{};
    for (size_t i = 0; i < 16 && i < sixteen.size(); ++i)
        n[i / 4] |= uint32_t(uint8_t(sixteen[i])) << (8 * (i % 4));
    return n;
}

std::string numToBytes(const Num& n) {
    std::string out(16, '\0');
    for (size_t i = 0; i < 16; ++i)
        out[i] = char((n[i / 4] >> (8 * (i % 4))) & 0xFF);
    return out;
}

Num modMul(const Num& a, const Num& b) {
    std::vector<uint32_t> product(8, 0);
    for (int i = 0; i < 4; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < 4; ++j) {
            const uint64_t v = uint64_t(a[i]) * b[j] + product[i + j] + carry;
            product[i + j] = uint32_t(v);
            carry = v >> 32;
        }
        product[i + 4] = uint32_t(carry);
    }
    return fold(product);
}

Num modPow(Num base, const Num& exponent) {
    base = fold(std::vector<uint32_t>(base.begin(), base.end()));
    Num result = {1, 0, 0, 0};
    for (int bit = 127; bit >= 0; --bit) {
        result = modMul(result, result);
        if ((exponent[bit / 32] >> (bit % 32)) & 1)
            result = modMul(result, base);
    }
    return result;
}

Num publicValue(const Num& secret) {
    return modPow(Num{5, 0, 0, 0}, secret);
}

// ---- fields ----

void putU8(std::string& out, uint8_t v) {
    out.push_back(char(v));
}

void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(char((v >> (8 * i)) & 0xFF));
}

void putU64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out.push_back(char((v >> (8 * i)) & 0xFF));
}

void putLength(std::string& out, uint64_t n) {
    std::string groups;
    groups.push_back(char(n & 0x7F));
    for (n >>= 7; n; n >>= 7)
        groups.push_back(char(0x80 | (n & 0x7F)));
    out.append(groups.rbegin(), groups.rend());
}

void putString(std::string& out, const std::string& s) {
    putLength(out, s.size());
    out += s;
}

bool Fields::take(size_t n, const char** p) {
    if (failed_ || body_.size() - at_ < n) {
        failed_ = true;
        at_ = body_.size();
        return false;
    }
    *p = body_.data() + at_;
    at_ += n;
    return true;
}

uint8_t Fields::u8() {
    const char* p;
    return take(1, &p) ? uint8_t(*p) : 0;
}

uint32_t Fields::u32() {
    const char* p;
    uint32_t v = 0;
    if (take(4, &p))
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | uint8_t(p[i]);
    return v;
}

uint64_t Fields::u64() {
    const char* p;
    uint64_t v = 0;
    if (take(8, &p))
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | uint8_t(p[i]);
    return v;
}

std::string Fields::str() {
    uint64_t n = 0;
    for (int guard = 0;; ++guard) {
        const char* p;
        if (guard == 10 || !take(1, &p)) {
            failed_ = true;
            return {};
        }
        n = (n << 7) | (uint8_t(*p) & 0x7F);
        if (!(uint8_t(*p) & 0x80))
            break;
    }
    const char* p;
    if (n > body_.size() || !take(size_t(n), &p))
        return {};
    return std::string(p, size_t(n));
}

// ---- messages ----

std::string keyExchangeBody(const std::string& key) {
    std::string b;
    putString(b, key);
    return b;
}

std::string loginBody(const Identity& who) {
    std::string b;
    putString(b, who.did);
    for (const char* s : {"sim", "1.0", "", "", ""})
        putString(b, s);
    putU8(b, 1);
    for (int i = 0; i < 7; ++i)
        putString(b, "x" + std::to_string(i));
    putString(b, who.arch);
    putString(b, who.type);
    return b;
}

std::string fileIdBody(int64_t fileId) {
    std::string b;
    putU64(b, uint64_t(fileId));
    return b;
}

std::optional<std::string> parseKeyReply(const std::string& body) {
    Fields f(body);
    std::string key = f.str();
    if (f.failed())
        return std::nullopt;
    return key;
}

std::optional<uint8_t> parseLoginReply(const std::string& body) {
    Fields f(body);
    const uint8_t result = f.u8();
    f.str();
    if (f.failed())
        return std::nullopt;
    return result;
}

std::optional<ListReply> parseListReply(const std::string& body) {
    Fields f(body);
    ListReply r;
    r.code = f.u32();
    r.message = f.str();
    const int count = f.u8();
    for (int i = 0; i < count; ++i) {
        AppInfo a;
        a.fileId = int64_t(f.u64());
        a.name = f.str();
        a.version = f.str();
        a.md5 = f.str();
        a.size = f.u32();
        a.time = f.u64();
        a.desc = f.str();
        r.apps.push_back(a);
    }
    if (f.failed())
        return std::nullopt;
    return r;
}

std::optional<DownloadReply> parseDownloadReply(const std::string& body) {
    Fields f(body);
    DownloadReply r;
    r.code = f.u32();
    r.message = f.str();
    r.size = f.u32();
    if (f.failed())
        return std::nullopt;
    return r;
}

std::optional<Chunk> parseChunk(const std::string& body) {
    Fields f(body);
    Chunk c;
    c.fileId = int64_t(f.u64());
    c.length = f.u32();
    c.data = f.str();
    c.offset = int64_t(f.u64());
    if (f.failed() || c.data.size() != c.length)
        return std::nullopt;
    return c;
}

// ---- framing ----

std::string Codec::encode(uint32_t command, uint32_t sequence, const std::string& body) {
    std::string out;
    putU32(out, uint32_t(body.size()));
    putU32(out, command);
    putU32(out, sequence);
    out += body;
    if (tx_)
        tx_->crypt(out.data(), out.size());
    return out;
}

void Codec::feed(const char* data, size_t n) {
    in_.append(data, n);
}

std::optional<Frame> Codec::next() {
    // Bytes are decrypted only as frames are taken, so a key set between two frames
    // applies from the next one on.
    const auto reveal = [this](size_t upTo) {
        if (upTo > decrypted_) {
            if (rx_)
                rx_->crypt(in_.data() + decrypted_, upTo - decrypted_);
            decrypted_ = upTo;
        }
    };
    if (in_.size() - at_ < 12)
        return std::nullopt;
    reveal(at_ + 12);
    const std::string header = in_.substr(at_, 12);
    Fields head(header);
    Frame f;
    const uint32_t length = head.u32();
    f.command = head.u32();
    f.sequence = head.u32();
    if (in_.size() - at_ - 12 < length)
        return std::nullopt;
    reveal(at_ + 12 + length);
    f.body = in_.substr(at_ + 12, length);
    at_ += 12 + length;
    if (at_ > (1u << 20)) { // drop what has been consumed now and then
        in_.erase(0, at_);
        decrypted_ -= at_;
        at_ = 0;
    }
    return f;
}

void Codec::setKey(const std::string& key) {
    tx_.emplace(key);
    rx_.emplace(key);
}

} // namespace simmurlo
