#include <kohttp/http_type.h>

#include "log.h"
#include "text_util.h"

#include <http_parser.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kohttp {

// ---- HttpResponse ----

void HttpResponse::setStatus(int status, std::string reason) {
    status_ = status;
    reason_ = std::move(reason);
}

void HttpResponse::setHeader(std::string_view name, std::string_view value) {
    headers_[detail::toLower(name)] = std::string(value);
}

std::string HttpResponse::header(std::string_view name) const {
    auto it = headers_.find(detail::toLower(name));
    return it == headers_.end() ? std::string() : it->second;
}

void HttpResponse::setBody(std::string body) {
    body_ = std::move(body);
    filePath_.clear();
    ranges_.clear();
}

void HttpResponse::setFile(std::string path, std::vector<ByteRange> ranges) {
    body_.clear();
    filePath_ = std::move(path);
    ranges_ = std::move(ranges);
}

// ---- HttpEvent ----

HttpEvent::HttpEvent(HttpConfigPtr config, HttpRequestPtr request, std::shared_ptr<void> session,
                     WriteFn write)
    : config_(std::move(config)), request_(std::move(request)), session_(std::move(session)),
      write_(std::move(write)), split_(splitUrl(request_->url)) {
    for (const auto& [key, value] : split_.query) {
        request_->params.emplace(key, value);
    }
}

std::shared_ptr<HttpEvent> HttpEvent::create(HttpConfigPtr config, HttpRequestPtr request,
                                             std::shared_ptr<void> session, WriteFn write) {
    return std::shared_ptr<HttpEvent>(
        new HttpEvent(std::move(config), std::move(request), std::move(session), std::move(write)));
}

HttpEvent::~HttpEvent() {
    // Runs from whichever holder lets go last; nothing may escape a destructor.
    try {
        if (finish_) {
            finish_(*this);
        } else if (write_) {
            sendResponse(*config_, response_, request_->method == kMethodHead, write_);
        }
        if (afterSend_) {
            afterSend_();
        }
    } catch (const std::exception& e) {
        KOHTTP_LOG(*config_, LogLevel::Error, std::string("sending response failed: ") + e.what());
    } catch (...) {
        KOHTTP_LOG(*config_, LogLevel::Error, "sending response failed");
    }
}

// ---- HttpParserContext ----

namespace {

// strtol-style decimal: leading blanks and a sign allowed, junk reads as 0,
// overflow saturates (and is then beyond any satisfiable range).
std::int64_t parseDecimal(std::string_view text) {
    std::string copy(text);
    errno = 0;
    long long v = std::strtoll(copy.c_str(), nullptr, 10);
    return static_cast<std::int64_t>(v);
}

bool parseRangeHeader(std::string_view value, std::size_t maxRanges,
                      std::vector<ByteRange>* ranges) {
    auto pieces = detail::split(value, ',');
    if (pieces.empty()) {
        return false;
    }
    auto first = detail::split(pieces[0], '=');
    if (first.size() != 2) {
        return false;
    }
    pieces[0] = first[1];
    for (std::string_view piece : pieces) {
        std::string_view rangeText = detail::trim(piece);
        if (rangeText.empty()) {
            return false;
        }
        auto parts = detail::split(rangeText, '-');
        ByteRange range;
        if (parts[0].empty()) {
            range.start = parts.size() > 1 ? -parseDecimal(parts[1]) : 0;
            range.end = 0;
        } else {
            range.start = parseDecimal(parts[0]);
            range.end = parts.size() > 1 ? parseDecimal(parts[1]) : ByteRange::kToEnd;
        }
        // "0-" and "0-0" ask for nothing the whole file does not give.
        if (range.start == 0 && (range.end == 0 || range.end == ByteRange::kToEnd)) {
            continue;
        }
        if (ranges->size() == maxRanges) {
            return false;
        }
        ranges->push_back(range);
    }
    return true;
}

} // namespace

struct HttpParserContext::Impl {
    explicit Impl(HttpConfigPtr cfg) : config(std::move(cfg)) {
        http_parser_init(&parser, HTTP_REQUEST);
        parser.data = this;
        http_parser_settings_init(&settings);
        settings.on_message_begin = &Impl::onMessageBegin;
        settings.on_url = &Impl::onUrl;
        settings.on_header_field = &Impl::onHeaderField;
        settings.on_header_value = &Impl::onHeaderValue;
        settings.on_headers_complete = &Impl::onHeadersComplete;
        settings.on_body = &Impl::onBody;
        settings.on_message_complete = &Impl::onMessageComplete;
        request = std::make_shared<HttpRequest>();
    }

    static Impl& self(http_parser* p) { return *static_cast<Impl*>(p->data); }

    bool overLimit(const std::string& what) {
        tooLarge = true;
        KOHTTP_LOG(*config, LogLevel::Warn, "request refused: " + what);
        return false;
    }

    bool countHead(std::size_t len) {
        headBytes += len;
        if (headBytes > config->limits.maxHeadBytes) {
            return overLimit("head over " + std::to_string(config->limits.maxHeadBytes) + " bytes");
        }
        return true;
    }

    static int onMessageBegin(http_parser* p) {
        Impl& s = self(p);
        s.headBytes = 0;
        s.rawUrl.clear();
        s.field.clear();
        s.value.clear();
        s.inValue = false;
        return 0;
    }

    // Fragments of one token may arrive in several calls when the bytes come
    // in pieces, so names, values and the url are gathered before use.
    static int onUrl(http_parser* p, const char* at, std::size_t len) {
        Impl& s = self(p);
        if (!s.countHead(len)) {
            return 1;
        }
        s.rawUrl.append(at, len);
        return 0;
    }

    static int onHeaderField(http_parser* p, const char* at, std::size_t len) {
        Impl& s = self(p);
        if (!s.countHead(len)) {
            return 1;
        }
        if (s.inValue && !s.finishHeader()) {
            return 1;
        }
        s.field.append(at, len);
        return 0;
    }

    static int onHeaderValue(http_parser* p, const char* at, std::size_t len) {
        Impl& s = self(p);
        if (!s.countHead(len)) {
            return 1;
        }
        s.inValue = true;
        s.value.append(at, len);
        return 0;
    }

    static int onHeadersComplete(http_parser* p) {
        Impl& s = self(p);
        if (s.inValue && !s.finishHeader()) {
            return -1;
        }
        HttpRequest& req = *s.request;
        req.url = urlDecode(s.rawUrl);
        req.method = static_cast<int>(p->method);
        req.keepAlive = http_should_keep_alive(p) != 0;
        req.upgrade = p->upgrade != 0;
        const HttpLimits& limits = s.config->limits;
        std::uint64_t bound =
            s.multipart ? static_cast<std::uint64_t>(limits.maxUploadBytes) + limits.maxBodyBytes
                        : limits.maxBodyBytes;
        if (p->content_length != ULLONG_MAX && p->content_length > bound) {
            s.overLimit("body of " + std::to_string(p->content_length) + " bytes");
            return -1;
        }
        auto expect = req.headers.find("expect");
        s.continuePending = expect != req.headers.end() &&
                            detail::equalsNoCase(detail::trim(expect->second), "100-continue");
        return 0;
    }

    static int onBody(http_parser* p, const char* at, std::size_t len) {
        Impl& s = self(p);
        if (s.multipart) {
            std::size_t used = s.multipart->execute(at, len);
            if (used < len) {
                s.tooLarge = s.multipart->overLimit();
                return 1;
            }
            return 0;
        }
        if (s.request->body.size() + len > s.config->limits.maxBodyBytes) {
            s.overLimit("body over " + std::to_string(s.config->limits.maxBodyBytes) + " bytes");
            return 1;
        }
        s.request->body.append(at, len);
        return 0;
    }

    static int onMessageComplete(http_parser* p) {
        Impl& s = self(p);
        s.request->multipart = std::move(s.multipart);
        s.multipart.reset();
        s.completed.push_back(std::move(s.request));
        s.request = std::make_shared<HttpRequest>();
        return 0;
    }

    bool finishHeader() {
        std::string name = detail::toLower(field);
        bool ok = handleHeader(name, value);
        field.clear();
        value.clear();
        inValue = false;
        return ok;
    }

    bool handleHeader(const std::string& name, const std::string& val) {
        HttpRequest& req = *request;
        if (name == "cookie") {
            for (std::string_view piece : detail::split(val, ';')) {
                auto kv = detail::split(piece, '=');
                if (kv.size() == 2) {
                    req.cookies[std::string(detail::trim(kv[0]))] = detail::trim(kv[1]);
                }
            }
            return true;
        }
        if (name == "content-type") {
            auto pieces = detail::split(val, ';');
            if (pieces.empty() ||
                !detail::equalsNoCase(detail::trim(pieces[0]), "multipart/form-data")) {
                return true;
            }
            constexpr std::string_view key = "boundary=";
            for (std::size_t k = 1; k < pieces.size(); ++k) {
                std::string_view param = detail::trim(pieces[k]);
                if (param.substr(0, key.size()) != key) {
                    continue;
                }
                std::string_view boundary = param.substr(key.size());
                // The boundary may be sent as a quoted string.
                if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"') {
                    boundary = boundary.substr(1, boundary.size() - 2);
                }
                if (boundary.empty()) {
                    return false;
                }
                multipart = std::make_shared<HttpMultipart>(std::string(boundary), config);
                return true;
            }
            return false;
        }
        if (name == "range" && config->parseRange) {
            return parseRangeHeader(val, config->limits.maxRanges, &req.ranges);
        }
        if (name == "host") {
            req.host = val;
            return true;
        }
        req.headers[name] = val;
        return true;
    }

    HttpConfigPtr config;
    http_parser parser{};
    http_parser_settings settings{};
    HttpRequestPtr request;
    std::string rawUrl;
    std::string field;
    std::string value;
    bool inValue = false;
    std::size_t headBytes = 0;
    bool tooLarge = false;
    bool continuePending = false;
    std::shared_ptr<HttpMultipart> multipart;
    std::deque<HttpRequestPtr> completed;
    Error error = Error::None;
};

HttpParserContext::HttpParserContext(HttpConfigPtr config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

HttpParserContext::~HttpParserContext() = default;

std::size_t HttpParserContext::feed(const char* data, std::size_t len) {
    if (len == 0 || impl_->error != Error::None || impl_->parser.upgrade) {
        return 0;
    }
    std::size_t used = http_parser_execute(&impl_->parser, &impl_->settings, data, len);
    enum http_errno err = HTTP_PARSER_ERRNO(&impl_->parser);
    if (err != HPE_OK) {
        bool large = impl_->tooLarge || err == HPE_HEADER_OVERFLOW;
        impl_->error = large ? Error::TooLarge : Error::Syntax;
    }
    return used;
}

HttpRequestPtr HttpParserContext::takeCompleted() {
    if (impl_->completed.empty()) {
        return nullptr;
    }
    HttpRequestPtr req = std::move(impl_->completed.front());
    impl_->completed.pop_front();
    return req;
}

bool HttpParserContext::takeContinue() {
    bool pending = impl_->continuePending;
    impl_->continuePending = false;
    return pending;
}

std::size_t HttpParserContext::pendingCount() const {
    return impl_->completed.size();
}

HttpParserContext::Error HttpParserContext::error() const {
    return impl_->error;
}

const HttpConfigPtr& HttpParserContext::config() const {
    return impl_->config;
}

} // namespace kohttp
