// Public header of kohttp: HTTP requests, responses and events, the request
// parser context, URL decoding and splitting, and response serialisation.
// Nothing here owns a socket; a server feeds bytes in and gives a write
// function for the bytes going out.
#pragma once

#include <kohttp/http_config.h>
#include <kohttp/multipart.h>

#include <any>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kohttp {

// http_parser's method numbers for the methods this library names.
enum HttpMethod : int {
    kMethodDelete = 0,
    kMethodGet = 1,
    kMethodHead = 2,
    kMethodPost = 3,
    kMethodPut = 4,
};

// One range of a Range header. A suffix "-N" is {-N, 0}; an open end "N-" is
// {N, kToEnd}. Values keep their full width so nothing wraps.
struct ByteRange {
    static constexpr std::int64_t kToEnd = -1;
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool operator==(const ByteRange& o) const { return start == o.start && end == o.end; }
};

// A resolved range: length bytes from offset.
struct ByteSlice {
    std::int64_t offset = 0;
    std::int64_t length = 0;
    bool operator==(const ByteSlice& o) const { return offset == o.offset && length == o.length; }
};

struct HttpCookie {
    std::string name;
    std::string value;
    std::string domain;
};

using HeaderMap = std::map<std::string, std::string>;

struct HttpRequest {
    std::string url; // percent-decoded, query included
    int method = kMethodGet;
    std::string host;
    HeaderMap headers; // lower-cased names
    std::map<std::string, std::string> cookies;
    std::map<std::string, std::string> params;
    std::string body;
    std::vector<ByteRange> ranges;
    std::shared_ptr<HttpMultipart> multipart;
    bool keepAlive = true; // false: the peer expects the connection to close
    bool upgrade = false;  // the request asked for a protocol switch
};
using HttpRequestPtr = std::shared_ptr<HttpRequest>;

class HttpResponse {
public:
    int status() const { return status_; }
    const std::string& reason() const { return reason_; }
    void setStatus(int status, std::string reason);

    // The name is lower-cased; setting a header again replaces its value.
    void setHeader(std::string_view name, std::string_view value);
    std::string header(std::string_view name) const;
    const HeaderMap& headers() const { return headers_; }

    void addCookie(HttpCookie cookie) { cookies_.push_back(std::move(cookie)); }
    const std::vector<HttpCookie>& cookies() const { return cookies_; }

    // Also leaves file mode.
    void setBody(std::string body);
    const std::string& body() const { return body_; }
    // Moves the body out, for the write that sends it.
    std::string takeBody() { return std::move(body_); }

    // File mode: the body comes from the file, optionally only the ranges.
    void setFile(std::string path, std::vector<ByteRange> ranges = {});
    const std::string& filePath() const { return filePath_; }
    const std::vector<ByteRange>& ranges() const { return ranges_; }

private:
    int status_ = 200;
    std::string reason_ = "OK";
    HeaderMap headers_;
    std::vector<HttpCookie> cookies_;
    std::string body_;
    std::string filePath_;
    std::vector<ByteRange> ranges_;
};

// Hands one block of bytes to the connection; may be called from any thread.
using WriteFn = std::function<void(std::string)>;

// Percent-decoding: "%XY" becomes one byte, "+" a space; a "%" without two
// following characters is dropped; stops at the first NUL byte.
std::string urlDecode(std::string_view in);

struct SplitUrl {
    std::string path;      // decoded, without query; ".../" gets "index.html"
    std::string extension; // after the last "." of the last segment
    std::vector<std::string> segments;
    std::map<std::string, std::string> query; // the first value of a key wins
};
SplitUrl splitUrl(std::string_view url);

// Writes the response through write: the head as one block, then the body.
// For a HEAD request the body is left out (its length still announced). The
// response is spent: an in-memory body is moved into the write.
void sendResponse(const HttpConfig& config, HttpResponse& response, bool headRequest,
                  const WriteFn& write);

// Resolves a request's ranges against `size` bytes of content. All
// satisfiable: status 206, *slices in request order, and a Content-Range
// header when there is one range. Any unsatisfiable: status 416 with
// "Content-Range: bytes */size", no slices, false. File responses and
// in-memory servers answer ranges through this one rule.
bool applyRanges(HttpResponse& response, const std::vector<ByteRange>& ranges, std::int64_t size,
                 std::vector<ByteSlice>* slices);

// The bytes of the answer to a request over a bound; the connection is to be
// closed after it.
std::string payloadTooLargeResponse();

// One request being answered. The response is sent exactly once, when the
// last holder of the event lets go, or the finishing function runs instead.
class HttpEvent {
public:
    using Finisher = std::function<void(HttpEvent&)>;

    static std::shared_ptr<HttpEvent> create(HttpConfigPtr config, HttpRequestPtr request,
                                             std::shared_ptr<void> session, WriteFn write);
    ~HttpEvent();
    HttpEvent(const HttpEvent&) = delete;
    HttpEvent& operator=(const HttpEvent&) = delete;

    HttpRequest& request() { return *request_; }
    const HttpRequestPtr& requestPtr() const { return request_; }
    HttpResponse& response() { return response_; }
    template <class T> std::shared_ptr<T> session() const {
        return std::static_pointer_cast<T>(session_);
    }
    std::any& userData() { return userData_; }

    const std::string& path() const { return split_.path; }
    const std::string& extension() const { return split_.extension; }
    const std::vector<std::string>& segments() const { return split_.segments; }
    const std::map<std::string, std::string>& query() const { return split_.query; }

    void setFinisher(Finisher finish) { finish_ = std::move(finish); }
    // Runs after the response went out (or the finisher ran); the server uses
    // it to close a connection the peer does not keep alive.
    void setAfterSend(std::function<void()> after) { afterSend_ = std::move(after); }

private:
    HttpEvent(HttpConfigPtr config, HttpRequestPtr request, std::shared_ptr<void> session,
              WriteFn write);

    HttpConfigPtr config_;
    HttpRequestPtr request_;
    HttpResponse response_;
    std::shared_ptr<void> session_;
    WriteFn write_;
    std::any userData_;
    SplitUrl split_;
    Finisher finish_;
    std::function<void()> afterSend_;
};
using HttpEventPtr = std::shared_ptr<HttpEvent>;

// Turns the bytes of one connection into requests, queued in arrival order.
class HttpParserContext {
public:
    enum class Error { None, Syntax, TooLarge };

    explicit HttpParserContext(HttpConfigPtr config);
    ~HttpParserContext();
    HttpParserContext(const HttpParserContext&) = delete;
    HttpParserContext& operator=(const HttpParserContext&) = delete;

    // Returns the bytes consumed; less than len means the stream is broken
    // (see error()), except after a request that asked for an upgrade.
    std::size_t feed(const char* data, std::size_t len);
    HttpRequestPtr takeCompleted();
    // True once per request whose head asked "Expect: 100-continue" and was
    // accepted: the peer waits for "100 Continue" before sending the body.
    bool takeContinue();
    std::size_t pendingCount() const;
    Error error() const;
    const HttpConfigPtr& config() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kohttp
