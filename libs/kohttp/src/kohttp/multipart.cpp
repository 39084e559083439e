#include <kohttp/multipart.h>

#include "log.h"
#include "md5_hasher.h"
#include "platform.h"
#include "text_util.h"

#include <cstring>

namespace kohttp {

// ---- TempFile ----

std::shared_ptr<TempFile> TempFile::create(bool named) {
    std::string path;
    std::FILE* file = detail::openTempFile(named, &path);
    if (!file) {
        return nullptr;
    }
    return std::shared_ptr<TempFile>(new TempFile(file, std::move(path)));
}

TempFile::~TempFile() {
    std::fclose(file_);
    if (!path_.empty()) {
        detail::removeFile(path_);
    }
}

bool TempFile::write(const char* data, std::size_t len) {
    std::size_t written = std::fwrite(data, 1, len, file_);
    size_ += static_cast<std::int64_t>(written);
    return written == len;
}

bool TempFile::flush() {
    return std::fflush(file_) == 0;
}

std::string TempFile::readAll() const {
    std::string out;
    if (std::fflush(file_) != 0 || !detail::seekTo(file_, 0)) {
        return out;
    }
    char block[16384];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, file_)) > 0) {
        out.append(block, n);
    }
    std::clearerr(file_);
    detail::seekTo(file_, size_); // later writes append
    return out;
}

// ---- MultipartParser ----

namespace {

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

} // namespace

MultipartParser::MultipartParser(std::string boundary, std::size_t maxPartHeadBytes)
    : delimiter_("\r\n--" + boundary), maxHeadBytes_(maxPartHeadBytes) {
    // A boundary with a line break could never be matched and would break the
    // single-restart matching of the data state.
    if (boundary.empty() || boundary.find_first_of("\r\n") != std::string::npos) {
        state_ = State::Failed;
    }
}

bool MultipartParser::deliverHeader(MultipartSink& sink) {
    bool ok = true;
    if (!name_.empty() && !value_.empty()) {
        ok = sink.onPartHeader(detail::toLower(name_), value_);
    }
    name_.clear();
    value_.clear();
    return ok;
}

std::size_t MultipartParser::execute(const char* data, std::size_t len, MultipartSink& sink) {
    const std::string_view boundary = std::string_view(delimiter_).substr(4);
    std::size_t i = 0;
    auto fail = [&] {
        state_ = State::Failed;
        return i;
    };
    while (i < len) {
        if (state_ == State::Failed) {
            return i;
        }
        if (state_ == State::End) {
            return len; // whatever follows the closing boundary is ignored
        }
        const char c = data[i];
        bool inHead = state_ >= State::HeaderStart && state_ <= State::HeadersEndLf;
        if (inHead && ++headBytes_ > maxHeadBytes_) {
            return fail();
        }
        switch (state_) {
        case State::Preamble:
            if (c == '-') {
                state_ = State::FirstDash;
            }
            break;
        case State::FirstDash:
            if (c != '-') {
                return fail();
            }
            state_ = State::FirstBoundary;
            index_ = 0;
            break;
        case State::FirstBoundary:
            if (c != boundary[index_]) {
                return fail();
            }
            if (++index_ == boundary.size()) {
                state_ = State::FirstCr;
            }
            break;
        case State::FirstCr:
        case State::AfterBoundary:
            if (c == '\r') {
                state_ = state_ == State::FirstCr ? State::FirstLf : State::AfterBoundaryLf;
            } else if (c == '-' && state_ == State::AfterBoundary) {
                state_ = State::AfterBoundaryDash;
            } else {
                return fail();
            }
            break;
        case State::FirstLf:
        case State::AfterBoundaryLf:
            if (c != '\n') {
                return fail();
            }
            state_ = State::HeaderStart;
            headBytes_ = 0;
            break;
        case State::AfterBoundaryDash:
            if (c != '-') {
                return fail();
            }
            state_ = State::End;
            break;
        case State::HeaderStart:
            if (c == '\r') {
                state_ = State::HeadersEndLf;
            } else if (isTokenChar(c)) {
                name_.assign(1, c);
                state_ = State::HeaderName;
            } else {
                return fail();
            }
            break;
        case State::HeaderName:
            if (c == ':') {
                state_ = State::HeaderValueStart;
            } else if (isTokenChar(c)) {
                name_.push_back(c);
            } else {
                return fail();
            }
            break;
        case State::HeaderValueStart:
            if (c == ' ' || c == '\t') {
                break;
            }
            state_ = State::HeaderValue;
            [[fallthrough]];
        case State::HeaderValue:
            if (c == '\r') {
                state_ = State::HeaderLf;
            } else {
                value_.push_back(c);
            }
            break;
        case State::HeaderLf:
            if (c != '\n' || !deliverHeader(sink)) {
                return fail();
            }
            state_ = State::HeaderStart;
            break;
        case State::HeadersEndLf:
            if (c != '\n' || !sink.onHeadersComplete()) {
                return fail();
            }
            state_ = State::Data;
            index_ = 0;
            break;
        case State::Data: {
            // Bytes go out in runs; a possible delimiter is held back until it
            // either completes or turns out to be data.
            std::size_t run = index_ == 0 ? i : len;
            for (; i < len; ++i) {
                const char d = data[i];
                if (d == delimiter_[index_]) {
                    if (index_ == 0 && run < i && !sink.onPartData(data + run, i - run)) {
                        return fail();
                    }
                    run = len;
                    if (++index_ == delimiter_.size()) {
                        index_ = 0;
                        if (!sink.onPartEnd()) {
                            return fail();
                        }
                        state_ = State::AfterBoundary;
                        break;
                    }
                    continue;
                }
                if (index_ > 0) {
                    if (!sink.onPartData(delimiter_.data(), index_)) {
                        return fail();
                    }
                    index_ = 0;
                    if (d == delimiter_[0]) {
                        index_ = 1;
                        continue;
                    }
                }
                if (run == len) {
                    run = i;
                }
            }
            if (state_ == State::Data) {
                if (run < len && !sink.onPartData(data + run, len - run)) {
                    i = run;
                    return fail();
                }
                return len;
            }
            break;
        }
        case State::End:
        case State::Failed:
            break;
        }
        ++i;
    }
    return state_ == State::Failed ? i : len;
}

// ---- HttpMultipart ----

struct HttpMultipart::Hash {
    detail::Md5Hasher md5;
};

HttpMultipart::HttpMultipart(std::string boundary, HttpConfigPtr config)
    : boundary_(boundary.substr(0, kMaxBoundary)), config_(std::move(config)),
      parser_(boundary_, config_->limits.maxPartHeadBytes) {}

HttpMultipart::~HttpMultipart() = default;

std::size_t HttpMultipart::execute(const char* data, std::size_t len) {
    return parser_.execute(data, len, *this);
}

const MultipartPart* HttpMultipart::part(const std::string& name) const {
    auto it = parts_.find(name);
    return it == parts_.end() ? nullptr : &it->second;
}

bool HttpMultipart::refuse(const std::string& what) {
    overLimit_ = true;
    KOHTTP_LOG(*config_, LogLevel::Warn, "multipart upload refused: " + what);
    return false;
}

bool HttpMultipart::onPartHeader(const std::string& lowerName, const std::string& value) {
    if (lowerName == "content-disposition") {
        auto pieces = detail::split(value, ';');
        for (std::size_t k = 1; k < pieces.size(); ++k) {
            auto kv = detail::split(detail::trim(pieces[k]), '=');
            if (kv.size() != 2) {
                continue;
            }
            if (kv[0] == "name") {
                current_.name = std::string(detail::stripQuotes(kv[1]));
            } else if (kv[0] == "filename") {
                current_.filename = std::string(detail::stripQuotes(kv[1]));
                current_.isFile = true;
            }
        }
    } else if (lowerName == "content-type") {
        current_.contentType = std::string(detail::trim(value.substr(0, value.find(';'))));
    }
    return true;
}

bool HttpMultipart::onHeadersComplete() {
    if (++partCount_ > config_->limits.maxParts) {
        return refuse("more than " + std::to_string(config_->limits.maxParts) + " parts");
    }
    if (current_.isFile) {
        current_.file = TempFile::create(config_->namedTempFiles);
        if (!current_.file) {
            KOHTTP_LOG(*config_, config_->tempFileFailureLevel, config_->tempFileFailureText);
            return false;
        }
        hash_ = std::make_unique<Hash>();
    }
    return true;
}

bool HttpMultipart::onPartData(const char* data, std::size_t len) {
    if (current_.isFile) {
        fileBytes_ += static_cast<std::int64_t>(len);
        if (fileBytes_ > config_->limits.maxUploadBytes) {
            return refuse("file data over " + std::to_string(config_->limits.maxUploadBytes) +
                          " bytes");
        }
        hash_->md5.update(data, len);
        if (!current_.file->write(data, len)) {
            KOHTTP_LOG(*config_, config_->tempFileFailureLevel,
                       "short write to temporary file of part " + current_.name);
            return false;
        }
        return true;
    }
    textBytes_ += len;
    if (textBytes_ > config_->limits.maxBodyBytes) {
        return refuse("field data over " + std::to_string(config_->limits.maxBodyBytes) + " bytes");
    }
    current_.data.append(data, len);
    return true;
}

bool HttpMultipart::onPartEnd() {
    if (current_.isFile) {
        current_.md5 = hash_->md5.finishHex();
        hash_.reset();
        if (!current_.file->flush()) {
            KOHTTP_LOG(*config_, config_->tempFileFailureLevel,
                       "short write to temporary file of part " + current_.name);
            return false;
        }
    }
    std::string name = current_.name;
    parts_[name] = std::move(current_);
    current_ = MultipartPart();
    return true;
}

} // namespace kohttp
