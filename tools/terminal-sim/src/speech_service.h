#pragma once

#include "http_service.h"

#include <string>
#include <vector>

namespace sim {

// The speech endpoint on the terminals' default HTTP port (80): POST "/v1/speech" with
// the JSON object {"text":..., "vcn":..., "speed":N, "volume":N}. A terminal whose F list
// holds "aoip.x" reads the text aloud: it keeps what it heard, answers
// {"code":200,"message":<the configured message>} and prints one line on stdout:
//   speech <address> heard text="..." vcn="..." speed=N volume=N body=<request body>
// (texts as JSON strings; control characters of the body escaped). A terminal without
// the feature answers 404, a body that is not such an object 400, each with the line
//   speech <address> refused: <reason>
// Other paths answer 404, other methods 405.
class SpeechService : public HttpService {
public:
    struct Heard {
        std::string address;
        std::string text;
        std::string vcn;
        long long speed = 0;
        long long volume = 0;
        std::string body;
    };

    explicit SpeechService(int port = 80, std::string message = "success")
        : HttpService(port), message_(std::move(message)) {}
    const char* name() const override { return "speech"; }

    const std::vector<Heard>& heard() const { return heard_; }
    // The stdout line of one heard request, without the line feed.
    static std::string heardLine(const Heard& heard);
    // True when the comma-separated feature list has the part "aoip.x".
    static bool hasSpeech(const Terminal& terminal);

protected:
    Response handle(Terminal& terminal, const Request& request) override;

private:
    Response refuse(const Terminal& terminal, int status, const std::string& reason);

    std::string message_;
    std::vector<Heard> heard_;
};

} // namespace sim
