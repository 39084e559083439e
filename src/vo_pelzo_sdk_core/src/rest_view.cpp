#include "vo_pelzo_sdk_core/rest_view.h"

#include "vo_pelzo_sdk_core/vo_pelzo_sdk_core.h"

#include <kohttp/loop/http_server.h>

#include <lumo/clock.h>
#include <lumo/eventloop.h>
#include <lumo/logger.h>

#include <cstdio>

namespace internal {

namespace {

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

PelzoDevInfo describe(const pelzo::PelzoDev& dev, const pelzo::TerminalHealth& health,
                      std::int64_t nowUs) {
    PelzoDevInfo info;
    info.packets_sent = health.packetsSent;
    info.bytes_sent = health.bytesSent;
    info.send_failures = health.sendFailures;
    info.heartbeat_age_ms = health.heartbeatAgeMs(nowUs);
    info.logins = health.logins;
    info.refusals = health.refusals;
    info.not_responding = health.notResponding;
    info.ip = dottedAddress(dev.ip);
    info.device_id = dev.deviceId;
    info.pwd = dev.password;
    if (dev.loggedIn) {
        info.state = "ok";
    } else if (dev.responding) {
        info.state = "denied";
        info.message = dev.lastMessage;
    } else {
        info.state = "-";
    }
    return info;
}

} // namespace

template <typename Self, typename Visitor> void PelzoDevInfo::fields(Self& self, Visitor& v) {
    v.visit("ip", self.ip);
    v.visit("device_id", self.device_id);
    v.visit("pwd", self.pwd);
    v.visit("state", self.state);
    v.visit("message", self.message);
    v.visit("packets_sent", self.packets_sent);
    v.visit("bytes_sent", self.bytes_sent);
    v.visit("send_failures", self.send_failures);
    v.visit("heartbeat_age_ms", self.heartbeat_age_ms);
    v.visit("logins", self.logins);
    v.visit("refusals", self.refusals);
    v.visit("not_responding", self.not_responding);
}

template <typename Self, typename Visitor> void PelzosrcInfo::fields(Self& self, Visitor& v) {
    v.visit("addr", self.addr);
    v.visit("url", self.url);
    v.visit("duration", self.duration);
    v.visit("offset", self.offset);
    v.visit("sample_rate", self.sample_rate);
    v.visit("frames_late", self.frames_late);
    v.visit("frames_skipped", self.frames_skipped);
}

template <typename Self, typename Visitor> void PelzoCtxInfo::fields(Self& self, Visitor& v) {
    v.visit("addr", self.addr);
    v.visit("priority", self.priority);
    v.visit("devices", self.devices);
    v.visit("capture_device", self.capture_device);
    v.visit("src", self.src);
}

#define INTERNAL_JSON_DIRECTIONS(Record)                                                           \
    void Record::encode(vo::JsonEncodeVisitor& v) const {                                          \
        fields(*this, v);                                                                          \
    }                                                                                              \
    void Record::decode(vo::JsonDecodeVisitor& v) {                                                \
        fields(*this, v);                                                                          \
    }
INTERNAL_JSON_DIRECTIONS(PelzoDevInfo)
INTERNAL_JSON_DIRECTIONS(PelzosrcInfo)
INTERNAL_JSON_DIRECTIONS(PelzoCtxInfo)
#undef INTERNAL_JSON_DIRECTIONS

GetManyResult<PelzoCtxInfo> describeContexts() {
    GetManyResult<PelzoCtxInfo> result;
    const std::int64_t now = lumo::loopClockUs();
    for (const auto& [handle, context] : Registry::instance().contexts()) {
        PelzoCtxInfo info;
        info.addr = pointerText(handle);
        info.priority = context->priority();
        if (pelzo_src_imp* source = context->source()) {
            info.src.addr = pointerText(source->handle());
            info.src.frames_late = source->lateFrames();
            info.src.frames_skipped = source->skippedFrames();
            if (const AudioReader* reader = source->reader()) {
                info.src.url = reader->url();
                info.src.duration = static_cast<std::int32_t>(reader->duration());
                info.src.offset = reader->position();
                info.src.sample_rate = reader->sampleRate();
            }
        }
        // The context's map is ordered by address, so the list is too.
        for (const auto& entry : context->devices())
            info.devices.push_back(describe(*entry.second, context->health(entry.first), now));
        const pelzo::PelzoDev& capture = context->captureDev();
        info.capture_device = describe(capture, context->health(capture.ip), now);
        result.data.push_back(std::move(info));
    }
    return result;
}

RestView::RestView() = default;
RestView::~RestView() = default;

int RestView::start(const std::string& address, int port) {
    if (server_)
        return 0;
    std::string error;
    auto server = std::make_shared<kohttp::loop::HttpServer>();
    if (port < 0 || port > 65535 ||
        !server->listen(address, static_cast<std::uint16_t>(port), &error)) {
        if (error.empty())
            error = "port out of range";
        LUMO_LOG_ERROR("failed to start http server on %s:%d. %s", address.c_str(), port,
                       error.c_str());
        return 1;
    }
    server->route(kohttp::kMethodGet, "/v1/ctx", [](const kohttp::HttpEventPtr& event) {
        kohttp::HttpResponse& response = event->response();
        response.setStatus(200, "OK");
        response.setHeader("Content-Type", "application/json; charset=utf8");
        response.setBody(vo::toJson(describeContexts()));
    });
    server_ = std::move(server);
    return 0;
}

} // namespace internal
