#include <kohttp/http_type.h>

#include "platform.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kohttp {

namespace {

constexpr std::size_t kFileBlock = 131072;
constexpr std::int64_t kMax32 = 0x7fffffff;

// A header line must stay one line whatever a handler put into it.
void appendClean(std::string& out, std::string_view text) {
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            out.push_back(c);
        }
    }
}

// Resolves the ranges against the size; false when any is unsatisfiable.
// Every bound stays within 32 bits, so no sum or difference can wrap.
bool resolveRanges(const std::vector<ByteRange>& ranges, std::int64_t size,
                   std::vector<ByteSlice>* slices) {
    slices->clear();
    for (const ByteRange& r : ranges) {
        if (r.start >= 0) {
            if (r.start > kMax32 || r.start >= size) {
                return false;
            }
            if (r.end == ByteRange::kToEnd) {
                slices->push_back({r.start, size - r.start});
                continue;
            }
            if (r.end < r.start || r.end > kMax32 || r.end >= size) {
                return false;
            }
            slices->push_back({r.start, r.end - r.start + 1});
        } else {
            if (r.end != 0 || r.start < -kMax32 || -r.start > size) {
                return false;
            }
            slices->push_back({size + r.start, -r.start});
        }
    }
    return true;
}

std::string headText(const HttpResponse& response) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status()) + " ";
    appendClean(head, response.reason());
    head += "\r\n";
    for (const auto& [name, value] : response.headers()) {
        if (name == "content-length") {
            continue; // the length is always the one of the bytes that follow
        }
        appendClean(head, name);
        head += ": ";
        appendClean(head, value);
        head += "\r\n";
    }
    for (const HttpCookie& cookie : response.cookies()) {
        head += "Set-Cookie: ";
        appendClean(head, cookie.name);
        head += "=";
        appendClean(head, cookie.value);
        head += "; path=/";
        if (!cookie.domain.empty()) {
            head += "; Domain=";
            appendClean(head, cookie.domain);
        }
        head += "\r\n";
    }
    return head;
}

void appendLength(std::string& head, std::int64_t length) {
    head += "Content-Length: " + std::to_string(length) + "\r\n";
}

// Holds the head back until the first block of the body, so both leave in one
// write when the configuration asks for it.
class HeadJoiner {
public:
    HeadJoiner(bool join, std::string head, const WriteFn& write) : write_(write) {
        if (join) {
            head_ = std::move(head);
        } else {
            write_(std::move(head));
        }
    }
    void operator()(std::string block) {
        if (!head_.empty()) {
            head_ += block;
            block.swap(head_);
            head_.clear();
        }
        write_(std::move(block));
    }
    void finish() {
        if (!head_.empty()) {
            write_(std::move(head_));
            head_.clear();
        }
    }

private:
    const WriteFn& write_;
    std::string head_;
};

// Streams length bytes from the file's current position in blocks.
void streamFile(std::FILE* file, std::int64_t length, HeadJoiner& write) {
    std::string block;
    while (length > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(length, kFileBlock));
        block.resize(want);
        std::size_t got = std::fread(block.data(), 1, want, file);
        if (got == 0) {
            return; // the file shrank under us; the peer sees a short body
        }
        block.resize(got);
        write(std::move(block));
        length -= static_cast<std::int64_t>(got);
    }
}

void sendFile(const HttpConfig& config, HttpResponse& response, bool headRequest,
              const WriteFn& write) {
    std::int64_t size = 0;
    std::FILE* file = detail::openForRead(response.filePath(), &size);
    if (!file) {
        response.setStatus(404, "not found");
        response.setBody({});
        std::string head = headText(response);
        appendLength(head, 0);
        write(head + "\r\n");
        return;
    }
    std::vector<ByteSlice> slices;
    if (response.ranges().empty()) {
        slices.push_back({0, size});
    } else if (!applyRanges(response, response.ranges(), size, &slices)) {
        std::fclose(file);
        response.setBody({});
        std::string head = headText(response);
        appendLength(head, 0);
        write(head + "\r\n");
        return;
    }
    std::int64_t total = 0;
    for (const ByteSlice& s : slices) {
        total += s.length;
    }
    std::string head = headText(response);
    appendLength(head, total);
    head += "\r\n";
    if (headRequest) {
        write(std::move(head));
    } else {
        HeadJoiner out(config.headWithBody, std::move(head), write);
        for (const ByteSlice& s : slices) {
            if (!detail::seekTo(file, s.offset)) {
                break;
            }
            streamFile(file, s.length, out);
        }
        out.finish();
    }
    std::fclose(file);
}

} // namespace

bool applyRanges(HttpResponse& response, const std::vector<ByteRange>& ranges, std::int64_t size,
                 std::vector<ByteSlice>* slices) {
    if (!resolveRanges(ranges, size, slices)) {
        slices->clear();
        response.setStatus(416, "Range Not Satisfiable");
        response.setHeader("Content-Range", "bytes */" + std::to_string(size));
        return false;
    }
    response.setStatus(206, "Partial Content");
    if (slices->size() == 1 && response.header("content-range").empty()) {
        const ByteSlice& s = slices->front();
        response.setHeader("Content-Range", "bytes " + std::to_string(s.offset) + "-" +
                                                std::to_string(s.offset + s.length - 1) + "/" +
                                                std::to_string(size));
    }
    return true;
}

void sendResponse(const HttpConfig& config, HttpResponse& response, bool headRequest,
                  const WriteFn& write) {
    if (config.fileResponses && !response.filePath().empty()) {
        sendFile(config, response, headRequest, write);
        return;
    }
    std::string head = headText(response);
    if (!(config.omitLengthOn304 && response.status() == 304)) {
        appendLength(head, static_cast<std::int64_t>(response.body().size()));
    }
    head += "\r\n";
    if (headRequest) {
        write(std::move(head));
        if (config.alwaysWriteBody) {
            write(std::string());
        }
        return;
    }
    if (config.headWithBody && !config.alwaysWriteBody &&
        response.body().size() <= HttpConfig::kHeadWithBodyLimit) {
        write(head + response.body());
        return;
    }
    write(std::move(head));
    if (config.alwaysWriteBody || !response.body().empty()) {
        write(response.takeBody());
    }
}

std::string payloadTooLargeResponse() {
    HttpResponse response;
    response.setStatus(413, "Payload Too Large");
    response.setHeader("Connection", "close");
    response.setHeader("Content-Type", "application/json");
    response.setBody(R"({"code": 413,"message": "Payload Too Large"})");
    std::string out;
    sendResponse(*HttpConfig::manager(), response, false,
                 [&out](std::string block) { out += block; });
    return out;
}

} // namespace kohttp
