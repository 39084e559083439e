// Public: the text-to-speech request of a terminal, without a window. A terminal that
// announces the speech feature ("aoip.x" in its F list) reads the text of a POST to
// "http://<address>/v1/speech" aloud; each outcome is written into the terminal's
// NOTICE cell of a dialog's DeviceSelectionModel. GUI thread only.
#pragma once

#include "vo/json.h"

#include <QString>

#include <functional>
#include <string>

class DeviceSelectionModel;

// The body of the speech request.
struct TextToSpeechReq : vo::JsonClient {
    std::string text;
    std::string vcn = "xiaoyan";
    int speed = 50;
    int volume = 50;

    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("text", text);
        v.visit("vcn", vcn);
        v.visit("speed", speed);
        v.visit("volume", volume);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("text", text);
        v.visit("vcn", vcn);
        v.visit("speed", speed);
        v.visit("volume", volume);
    }
};

// The terminal's answer; its code is not examined.
struct TextToSpeechRes : vo::JsonClient {
    std::string message;
    int code = 200;

    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("message", message);
        v.visit("code", code);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("message", message);
        v.visit("code", code);
    }
};

// True when one part of the comma-separated feature list is exactly "aoip.x".
bool ttsPermitted(const QString& features);
// "http://" + address + "/v1/speech": the terminal's default HTTP port.
std::string speechUrl(const QString& address);

// A blocking HTTP call as httpRequest makes it: true with the reply body, or false with
// the error text.
using SpeechCall = std::function<bool(const std::string& url, const std::string& body,
                                      std::string& reply, std::string& error)>;
// httpRequest without extra headers; it waits in an event loop, up to the REST client's
// time-out.
SpeechCall httpSpeechCall();

// Sends `request` to every terminal of `table`, one after another. Each NOTICE first
// reads "send play tts success" (or "no permission", and the terminal is skipped), then
// the reply's message, the decoding error of a reply that is not the expected JSON, or
// the request's error text. `stopRequested` is asked before each terminal; a true answer
// ends the run (the dialog is closing).
void speakOnTerminals(DeviceSelectionModel& table, const TextToSpeechReq& request,
                      const SpeechCall& call, const std::function<bool()>& stopRequested = {});
