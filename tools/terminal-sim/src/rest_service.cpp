#include "rest_service.h"

#include "json_text.h"

namespace sim {

namespace {

std::string value(const Terminal& t, const char* key, const std::string& otherwise = {}) {
    const std::string* v = t.get(key);
    return v && !v->empty() ? *v : otherwise;
}

} // namespace

std::string RestService::deviceInfoJson(const Terminal& t) {
    JsonObject body;
    if (const std::string* id = t.get("DEV_ID"))
        body.text("device_id", *id);
    body.number("total", 4LL * 1024 * 1024 * 1024)
        .number("used", 1LL * 1024 * 1024 * 1024)
        .number("free", 3LL * 1024 * 1024 * 1024)
        .text("wifi_ip", "")
        .text("mobile_ip", "")
        .number("battery_val", 0)
        .number("battery_percent", 100)
        .number("route_dev_type", 0)
        .text("route_dev_name", "eth0")
        .number("net_connect_status", 1)
        .text("gateway", value(t, "GATEWAY"))
        .text("dns0", value(t, "GATEWAY"))
        .text("dns1", "")
        .text("eth_ip", value(t, "ADDRESS", t.bind))
        .text("station_id", "")
        .text("port_id", "");
    return JsonObject()
        .number("code", 200)
        .text("message", "success")
        .raw("value", body.str())
        .str();
}

HttpService::Response RestService::handle(Terminal& terminal, const Request& request) {
    if (request.path != "/rest/device_info")
        return {404, errorBody(404, "not found")};
    if (request.method != "GET")
        return {405, errorBody(405, "method not allowed")};
    return {200, deviceInfoJson(terminal)};
}

} // namespace sim
