// Public header of kohttp: handlers and the route trees that pick one for a
// request. Shared by the servers; it owns no socket and takes no lock.
#pragma once

#include <kohttp/http_type.h>

#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace kohttp {

class HttpHandler {
public:
    virtual ~HttpHandler() = default;
    // True when the handler also takes every path below its route.
    virtual bool isPrefix() const { return false; }
    virtual void handle(const HttpEventPtr& event) = 0;
};

using HttpHandlerPtr = std::shared_ptr<HttpHandler>;
using HttpHandlerFunc = std::function<void(const HttpEventPtr&)>;

// Wraps one function; it answers only its exact path.
class HttpHandlerByFunc : public HttpHandler {
public:
    explicit HttpHandlerByFunc(HttpHandlerFunc func) : func_(std::move(func)) {}
    void handle(const HttpEventPtr& event) override { func_(event); }

private:
    HttpHandlerFunc func_;
};

// Consulted before routing; false stops the dispatch (the response as it
// stands is sent when the event is released).
using HttpInterceptor = std::function<bool(const HttpEventPtr&)>;

class HttpRouter {
public:
    // Segment forms: literal; regular expression (contains one of
    // "*+?[]^$\()|{}", matched unanchored); parameter "<name>" or "{name}".
    // Returns false (nothing registered) when an expression does not compile.
    bool route(int method, std::string_view path, HttpHandlerPtr handler);
    void addInterceptor(HttpInterceptor interceptor);

    // Interceptors, then the handler of the best route, or a 404 answer.
    void dispatch(const HttpEventPtr& event) const {
        if (intercept(event)) {
            answer(event, match(event));
        }
    }

    // The steps of dispatch, for a server that guards the tables with a lock
    // but calls the handler outside it.
    struct Match {
        HttpHandlerPtr handler;
        const char* notFoundBody = nullptr; // when there is no handler
    };
    // Runs the interceptors; false when one stopped the dispatch.
    bool intercept(const HttpEventPtr& event) const;
    // Finds the handler of the best route and stores path parameters.
    Match match(const HttpEventPtr& event) const;
    // Calls the handler, or answers 404 with the body.
    static void answer(const HttpEventPtr& event, const Match& match);

    static constexpr const char* kNoMethodBody = R"({"code": 404,"message": "Not found"})";
    static constexpr const char* kNoPathBody =
        "{\n    \"code\": 404,\n    \"message\": \"Not found\"\n}\n";

private:
    enum Kind { Literal = 0, Regex = 1, Param = 2 };
    struct Node {
        Kind kind = Literal;
        std::string text; // literal text, expression, or parameter name
        std::regex regex;
        std::map<std::tuple<int, std::string>, std::unique_ptr<Node>> children;
        HttpHandlerPtr handler;
    };
    static void notFound(HttpResponse& response, const char* body);

    std::vector<HttpInterceptor> interceptors_;
    std::map<int, std::unique_ptr<Node>> trees_;
};

} // namespace kohttp
