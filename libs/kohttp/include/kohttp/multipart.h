// Public header of kohttp: multipart/form-data bodies, their parts and the
// temporary files that hold uploaded files.
#pragma once

#include <kohttp/http_config.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace kohttp {

// A temporary file, removed when the last holder lets go. A named file has a
// path that can be handed to other code; an anonymous one has none.
class TempFile {
public:
    static std::shared_ptr<TempFile> create(bool named);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }
    bool write(const char* data, std::size_t len);
    // Makes everything written visible to readers of the path.
    bool flush();
    std::int64_t size() const { return size_; }
    // Reads the whole content back (flushes pending writes first).
    std::string readAll() const;

private:
    TempFile(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
    std::FILE* file_;
    std::string path_;
    std::int64_t size_ = 0;
};

struct MultipartPart {
    std::string name;
    bool isFile = false;
    std::string filename;
    std::string contentType;
    std::string data;               // parts that are not files
    std::shared_ptr<TempFile> file; // file parts
    std::string md5;                // lowercase hex MD5 of a file part
};

// Receives what MultipartParser finds; a false answer fails the parse.
class MultipartSink {
public:
    virtual ~MultipartSink() = default;
    virtual bool onPartHeader(const std::string& lowerName, const std::string& value) = 0;
    virtual bool onHeadersComplete() = 0;
    virtual bool onPartData(const char* data, std::size_t len) = 0;
    virtual bool onPartEnd() = 0;
};

// Byte-by-byte state machine over a multipart body. It can be fed in pieces
// of any size; it keeps no body bytes itself.
class MultipartParser {
public:
    MultipartParser(std::string boundary, std::size_t maxPartHeadBytes);

    // Returns how many bytes were consumed; less than len means failure.
    std::size_t execute(const char* data, std::size_t len, MultipartSink& sink);
    bool failed() const { return state_ == State::Failed; }
    bool finished() const { return state_ == State::End; }

private:
    enum class State {
        Preamble,
        FirstDash,
        FirstBoundary,
        FirstCr,
        FirstLf,
        HeaderStart,
        HeaderName,
        HeaderValueStart,
        HeaderValue,
        HeaderLf,
        HeadersEndLf,
        Data,
        AfterBoundary,
        AfterBoundaryLf,
        AfterBoundaryDash,
        End,
        Failed,
    };
    bool deliverHeader(MultipartSink& sink);

    std::string delimiter_; // "\r\n--" + boundary
    std::size_t maxHeadBytes_;
    State state_ = State::Preamble;
    std::size_t index_ = 0; // position inside the boundary or delimiter
    std::size_t headBytes_ = 0;
    std::string name_;
    std::string value_;
};

// The multipart body of one request: parser, part being received, and the
// finished parts by name (a later part of the same name replaces the earlier).
class HttpMultipart : private MultipartSink {
public:
    static constexpr std::size_t kMaxBoundary = 70;

    HttpMultipart(std::string boundary, HttpConfigPtr config);
    ~HttpMultipart() override;

    std::size_t execute(const char* data, std::size_t len);
    const std::string& boundary() const { return boundary_; }
    bool finished() const { return parser_.finished(); }
    // True when the failure came from a bound rather than from syntax.
    bool overLimit() const { return overLimit_; }

    const std::map<std::string, MultipartPart>& parts() const { return parts_; }
    const MultipartPart* part(const std::string& name) const;

private:
    bool onPartHeader(const std::string& lowerName, const std::string& value) override;
    bool onHeadersComplete() override;
    bool onPartData(const char* data, std::size_t len) override;
    bool onPartEnd() override;
    bool refuse(const std::string& what);

    struct Hash;
    std::string boundary_;
    HttpConfigPtr config_;
    MultipartParser parser_;
    MultipartPart current_;
    std::unique_ptr<Hash> hash_;
    std::map<std::string, MultipartPart> parts_;
    std::size_t partCount_ = 0;
    std::size_t textBytes_ = 0;
    std::int64_t fileBytes_ = 0;
    bool overLimit_ = false;
};

} // namespace kohttp
