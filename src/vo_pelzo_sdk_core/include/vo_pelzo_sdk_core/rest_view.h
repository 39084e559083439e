// The SDK's read-only REST view: GET /v1/ctx lists the live contexts with their
// terminals, capture terminal and source, as JSON through the vo mapping.
#pragma once

#include <vo/json.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kohttp::loop {
class HttpServer;
}

namespace internal {

struct PelzoDevInfo : vo::JsonClient {
    std::string ip;
    std::string device_id;
    std::string pwd;
    std::string state; // "ok", "denied" or "-"
    std::string message;
    // Stream figures of the context for this terminal, after the keys above.
    std::uint64_t packets_sent = 0;
    std::uint64_t bytes_sent = 0;
    std::uint64_t send_failures = 0;
    std::int64_t heartbeat_age_ms = -1; // -1: no heartbeat yet
    std::int32_t logins = 0;
    std::int32_t refusals = 0;
    std::int32_t not_responding = 0;

    void encode(vo::JsonEncodeVisitor& v) const override;
    void decode(vo::JsonDecodeVisitor& v) override;

private:
    // The field list, once for both directions.
    template <typename Self, typename Visitor> static void fields(Self& self, Visitor& v);
};

struct PelzosrcInfo : vo::JsonClient {
    std::string addr;
    std::string url;
    std::int32_t duration = 0;
    std::int32_t offset = 0;
    std::int32_t sample_rate = 0;
    // Pacing figures, after the keys above: frames released over 2 ms late, and frame
    // slots skipped by the backlog rule.
    std::uint64_t frames_late = 0;
    std::uint64_t frames_skipped = 0;

    void encode(vo::JsonEncodeVisitor& v) const override;
    void decode(vo::JsonDecodeVisitor& v) override;

private:
    // The field list, once for both directions.
    template <typename Self, typename Visitor> static void fields(Self& self, Visitor& v);
};

struct PelzoCtxInfo : vo::JsonClient {
    std::string addr;
    std::int32_t priority = 0;
    std::vector<PelzoDevInfo> devices;
    PelzoDevInfo capture_device;
    PelzosrcInfo src;

    void encode(vo::JsonEncodeVisitor& v) const override;
    void decode(vo::JsonDecodeVisitor& v) override;

private:
    // The field list, once for both directions.
    template <typename Self, typename Visitor> static void fields(Self& self, Visitor& v);
};

// The reply envelope of a list.
template <typename T> struct GetManyResult : vo::JsonClient {
    std::int32_t code = 200;
    std::string message;
    std::vector<T> data;

    void encode(vo::JsonEncodeVisitor& v) const override { fields(*this, v); }
    void decode(vo::JsonDecodeVisitor& v) override { fields(*this, v); }

private:
    template <typename Self, typename Visitor> static void fields(Self& self, Visitor& v) {
        v.visit("code", self.code);
        v.visit("message", self.message);
        v.visit("data", self.data);
    }
};

// The view of every live context, in ascending handle order. Worker thread only.
GetManyResult<PelzoCtxInfo> describeContexts();

// The HTTP server of the view, one per worker. Worker thread only.
class RestView {
public:
    RestView();
    ~RestView();

    // 0 when serving (also when already serving, whatever the arguments); 1 with an
    // error line when it cannot listen (a later call may try again).
    int start(const std::string& address, int port);

private:
    std::shared_ptr<kohttp::loop::HttpServer> server_;
};

} // namespace internal
