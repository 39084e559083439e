#include <kohttp/http_router.h>

#include "text_util.h"

namespace kohttp {

bool HttpRouter::route(int method, std::string_view path, HttpHandlerPtr handler) {
    // Compile every expression first so a bad one leaves the tree untouched.
    std::vector<std::unique_ptr<Node>> patterns;
    for (std::string_view segment : detail::split(path, '/')) {
        if (segment.empty()) {
            continue;
        }
        auto node = std::make_unique<Node>();
        bool bracketed = segment.size() > 2 && ((segment.front() == '<' && segment.back() == '>') ||
                                                (segment.front() == '{' && segment.back() == '}'));
        if (bracketed) {
            node->kind = Param;
            node->text = std::string(segment.substr(1, segment.size() - 2));
        } else if (segment.find_first_of("*+?[]^$\\()|{}") != std::string_view::npos) {
            node->kind = Regex;
            node->text = std::string(segment);
            try {
                node->regex = std::regex(node->text);
            } catch (const std::regex_error&) {
                return false;
            }
        } else {
            node->text = std::string(segment);
        }
        patterns.push_back(std::move(node));
    }
    auto& root = trees_[method];
    if (!root) {
        root = std::make_unique<Node>();
    }
    Node* node = root.get();
    for (auto& pattern : patterns) {
        auto key = std::make_tuple(static_cast<int>(pattern->kind), pattern->text);
        auto& child = node->children[key];
        if (!child) {
            child = std::move(pattern);
        }
        node = child.get();
    }
    node->handler = std::move(handler);
    return true;
}

void HttpRouter::addInterceptor(HttpInterceptor interceptor) {
    interceptors_.push_back(std::move(interceptor));
}

void HttpRouter::notFound(HttpResponse& response, const char* body) {
    response.setStatus(404, "Not found");
    response.setHeader("Content-Type", "application/json");
    response.setBody(body);
}

bool HttpRouter::intercept(const HttpEventPtr& event) const {
    for (const auto& interceptor : interceptors_) {
        if (!interceptor(event)) {
            return false;
        }
    }
    return true;
}

void HttpRouter::answer(const HttpEventPtr& event, const Match& match) {
    if (match.handler) {
        match.handler->handle(event);
    } else {
        notFound(event->response(), match.notFoundBody);
    }
}

HttpRouter::Match HttpRouter::match(const HttpEventPtr& event) const {
    auto tree = trees_.find(event->request().method);
    if (tree == trees_.end()) {
        return {nullptr, kNoMethodBody};
    }
    const Node* node = tree->second.get();
    HttpHandlerPtr candidate;
    if (node->handler && node->handler->isPrefix()) {
        candidate = node->handler;
    }
    const auto& segments = event->segments();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::string& segment = segments[i];
        const Node* taken = nullptr;
        for (const auto& [key, child] : node->children) {
            switch (child->kind) {
            case Literal:
                if (!taken && child->text == segment) {
                    taken = child.get();
                }
                break;
            case Regex:
                if (!taken && std::regex_search(segment, child->regex)) {
                    taken = child.get();
                }
                break;
            case Param:
                event->request().params[child->text] = segment;
                if (!taken) {
                    taken = child.get();
                }
                break;
            }
        }
        if (!taken) {
            break;
        }
        node = taken;
        if (node->handler && (node->handler->isPrefix() || i + 1 == segments.size())) {
            candidate = node->handler;
        }
    }
    if (!candidate) {
        return {nullptr, kNoPathBody};
    }
    return {candidate, nullptr};
}

} // namespace kohttp
