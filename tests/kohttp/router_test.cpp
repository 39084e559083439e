// Route trees: literal, expression and parameter segments, prefix handlers,
// interceptors and the two not-found answers.
#include <kohttp/http_router.h>

#include <gtest/gtest.h>

using namespace kohttp;

namespace {

class Recorder : public HttpHandler {
public:
    Recorder(std::string name, bool prefix, std::vector<std::string>* log)
        : name_(std::move(name)), prefix_(prefix), log_(log) {}
    bool isPrefix() const override { return prefix_; }
    void handle(const HttpEventPtr&) override { log_->push_back(name_); }

private:
    std::string name_;
    bool prefix_;
    std::vector<std::string>* log_;
};

class Routing : public ::testing::Test {
protected:
    HttpEventPtr event(int method, const std::string& url) {
        auto req = std::make_shared<HttpRequest>();
        req->method = method;
        req->url = url;
        return HttpEvent::create(HttpConfig::sdk(), req, nullptr, {});
    }
    // Dispatches and returns the handler that answered, or the 404 body.
    std::string dispatch(int method, const std::string& url, HttpEventPtr* keep = nullptr) {
        auto e = event(method, url);
        calls.clear();
        router.dispatch(e);
        if (keep) {
            *keep = e;
        }
        if (!calls.empty()) {
            return calls.back();
        }
        return e->response().body();
    }
    void add(int method, const std::string& path, const std::string& name, bool prefix = false) {
        ASSERT_TRUE(router.route(method, path, std::make_shared<Recorder>(name, prefix, &calls)));
    }
    HttpRouter router;
    std::vector<std::string> calls;
};

TEST_F(Routing, PicksTheRouteForEachPath) {
    add(kMethodGet, "/v1/ctx", "ctx");
    add(kMethodGet, "/api/<id>/info", "info");
    add(kMethodGet, "/api/list/info", "list");
    add(kMethodGet, "/files/^[0-9]+$", "numeric");
    add(kMethodGet, "/files/{name}", "named");
    add(kMethodGet, "/static", "static", true);
    struct Case {
        const char* url;
        const char* answer;
    };
    const Case cases[] = {
        {"/v1/ctx", "ctx"},
        {"/v1/ctx?x=1", "ctx"},
        {"/v1/ctx/x", HttpRouter::kNoPathBody}, // a function route is exact
        {"/v1", HttpRouter::kNoPathBody},
        {"/api/42/info", "info"},
        {"/api/list/info", "list"}, // a literal beats a parameter
        {"/files/123", "numeric"},
        {"/files/a12", "named"},
        {"/static/css/site.css", "static"},
        {"/static", "static"},
        {"/nothing", HttpRouter::kNoPathBody},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(dispatch(kMethodGet, c.url), c.answer);
    }
}

TEST_F(Routing, ParametersAreStored) {
    add(kMethodGet, "/api/<id>/info", "info");
    add(kMethodGet, "/api/list/info", "list");
    HttpEventPtr e;
    EXPECT_EQ(dispatch(kMethodGet, "/api/42/info?id=query", &e), "info");
    EXPECT_EQ(e->request().params.at("id"), "42"); // the path wins over the query
    // A parameter child visited on the way stores its value even when a
    // literal is taken.
    EXPECT_EQ(dispatch(kMethodGet, "/api/list/info", &e), "list");
    EXPECT_EQ(e->request().params.at("id"), "list");
}

TEST_F(Routing, NotFoundAnswers) {
    add(kMethodGet, "/", "root", true);
    HttpEventPtr e;
    EXPECT_EQ(dispatch(kMethodGet, "/any/deep/path.html"), "root");
    EXPECT_EQ(dispatch(kMethodPost, "/", &e), HttpRouter::kNoMethodBody);
    EXPECT_EQ(e->response().status(), 404);
    EXPECT_EQ(e->response().reason(), "Not found");
    EXPECT_EQ(e->response().header("content-type"), "application/json");

    HttpRouter exact;
    exact.route(kMethodGet, "/a", std::make_shared<HttpHandlerByFunc>([](const HttpEventPtr&) {}));
    auto miss = event(kMethodGet, "/b");
    exact.dispatch(miss);
    EXPECT_EQ(miss->response().body(), HttpRouter::kNoPathBody);
    EXPECT_EQ(miss->response().header("content-type"), "application/json");
}

TEST_F(Routing, InterceptorCanStopDispatch) {
    add(kMethodGet, "/a", "a");
    router.addInterceptor([](const HttpEventPtr& e) {
        if (e->request().cookies.count("sid") == 0) {
            e->response().setStatus(401, "Unauthorized");
            return false;
        }
        return true;
    });
    HttpEventPtr e;
    dispatch(kMethodGet, "/a", &e);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(e->response().status(), 401);
}

TEST_F(Routing, RegistrationRules) {
    EXPECT_FALSE(
        router.route(kMethodGet, "/bad/(unclosed", std::make_shared<Recorder>("x", false, &calls)));
    EXPECT_EQ(dispatch(kMethodGet, "/bad/x"), HttpRouter::kNoMethodBody); // nothing registered
    add(kMethodGet, "/same", "first");
    add(kMethodGet, "/same/", "second"); // the same node: replaced
    EXPECT_EQ(dispatch(kMethodGet, "/same"), "second");
    // "<>" is too short to be a parameter: a literal.
    add(kMethodGet, "/<>", "brackets");
    EXPECT_EQ(dispatch(kMethodGet, "/<>"), "brackets");
}

TEST(HandlerByFunc, EmptyFunctionThrows) {
    HttpHandlerByFunc empty{HttpHandlerFunc()};
    EXPECT_FALSE(empty.isPrefix());
    EXPECT_THROW(empty.handle(nullptr), std::bad_function_call);
}

} // namespace
