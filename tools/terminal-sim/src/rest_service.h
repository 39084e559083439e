#pragma once

#include "http_service.h"

#include <string>

namespace sim {

// The terminal's REST interface on TCP 8080: each terminal listens on its own address.
// GET "/rest/device_info" answers {"code":200,"message":...,"value":{...}} with the
// terminal's identity (device_id from DEV_ID, left out when the terminal has none) and
// eth_ip (its ADDRESS, else its bound address). Other paths answer 404, other methods 405.
class RestService : public HttpService {
public:
    explicit RestService(int port = 8080) : HttpService(port) {}
    const char* name() const override { return "rest"; }

    // The body of GET "/rest/device_info" for one terminal.
    static std::string deviceInfoJson(const Terminal& t);

protected:
    Response handle(Terminal& terminal, const Request& request) override;
};

} // namespace sim
