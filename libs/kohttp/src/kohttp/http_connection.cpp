#include <kohttp/http_connection.h>

#include "log.h"

#include <algorithm>

namespace kohttp {

HttpConnection::HttpConnection(HttpConfigPtr config, std::string peer, Hooks hooks)
    : config_(config), peer_(std::move(peer)), hooks_(std::move(hooks)), parser_(config) {}

void HttpConnection::send(std::string bytes) {
    if (closed_) {
        return;
    }
    if (corked_) {
        pending_ += bytes;
        return;
    }
    hooks_.write(std::move(bytes));
}

void HttpConnection::flush() {
    if (!corked_) {
        return;
    }
    corked_ = false;
    if (!pending_.empty()) {
        std::string out;
        out.swap(pending_);
        hooks_.write(std::move(out));
    }
}

void HttpConnection::close() {
    if (closed_.exchange(true)) {
        return;
    }
    flush(); // what was answered before the close still goes out
    hooks_.close();
}

void HttpConnection::refuse(const std::string& why) {
    KOHTTP_LOG(*config_, LogLevel::Warn, why + ", peer " + peer_);
    close();
}

void HttpConnection::receive(const char* data, std::size_t len) {
    if (closed_) {
        return;
    }
    buffer_.append(data, len);
    process();
}

void HttpConnection::resume() {
    if (closed_ || !paused_) {
        return;
    }
    paused_ = false;
    process();
}

void HttpConnection::process() {
    if (hooks_.coalesceWrites) {
        corked_ = true;
    }
    // Requests parsed before a pause go first.
    if (websocket_ || dispatchCompleted()) {
        while (!buffer_.empty() && !closed_ && !paused_) {
            if (websocket_) {
                receiveFrames();
                break;
            }
            if (!receiveHttp()) {
                break;
            }
        }
    }
    // What is left waits for more bytes; a peer must not make that grow
    // without end.
    if (!closed_ && buffer_.size() > config_->limits.maxReceiveBuffer) {
        refuse("receive buffer over " + std::to_string(config_->limits.maxReceiveBuffer) +
               " bytes");
    }
    flush();
}

// One parse round; false when nothing more can be done with the buffer now.
bool HttpConnection::receiveHttp() {
    std::size_t used = parser_.feed(buffer_.data(), buffer_.size());
    if (used == 0) {
        if (parser_.error() == HttpParserContext::Error::TooLarge) {
            // The bound was already logged by the parser.
            send(payloadTooLargeResponse());
            close();
        } else if (parser_.error() == HttpParserContext::Error::None && !websocket_) {
            // An upgrade request whose handler did not switch the connection.
            KOHTTP_LOG(*config_, LogLevel::Debug, "Upgrade not taken, peer " + peer_);
            close();
        } else {
            KOHTTP_LOG(*config_, LogLevel::Debug, "Http parse error, peer " + peer_);
            close();
        }
        return false;
    }
    buffer_.erase(0, used);
    if (parser_.takeContinue()) {
        send("HTTP/1.1 100 Continue\r\n\r\n");
    }
    return dispatchCompleted();
}

// Dispatches the parsed requests; false when the connection closed or paused.
bool HttpConnection::dispatchCompleted() {
    while (!closed_) {
        if (hooks_.pendingOutput && hooks_.pendingOutput() > config_->limits.maxPendingOutput) {
            paused_ = true;
            return false;
        }
        HttpRequestPtr request = parser_.takeCompleted();
        if (!request) {
            return true;
        }
        auto self = owner_.lock();
        std::weak_ptr<void> owner = owner_;
        WriteFn write = [this, owner](std::string bytes) {
            if (auto alive = owner.lock()) {
                send(std::move(bytes));
            }
        };
        bool keepAlive = request->keepAlive;
        auto event = HttpEvent::create(config_, std::move(request), self, std::move(write));
        ++unanswered_;
        event->setAfterSend([this, owner, keepAlive] {
            if (auto alive = owner.lock()) {
                --unanswered_;
                if (!keepAlive) {
                    close();
                }
            }
        });
        dispatchGuarded(*config_, peer_, event, hooks_.dispatch);
    }
    return false;
}

void HttpConnection::dispatchGuarded(const HttpConfig& config, const std::string& peer,
                                     const HttpEventPtr& event,
                                     const std::function<void(const HttpEventPtr&)>& dispatch) {
    try {
        dispatch(event);
    } catch (const std::exception& e) {
        // A failing handler answers this request, not the whole server.
        KOHTTP_LOG(config, LogLevel::Error,
                   std::string("handler failed: ") + e.what() + ", peer " + peer);
        event->response().setStatus(500, "Internal Server Error");
        event->response().setBody({});
    }
}

void HttpConnection::receiveFrames() {
    const HttpConfig& config = *config_;
    while (!closed_) {
        WsFrame frame;
        std::size_t size = 0;
        WsParse result = parseWsFrame(buffer_, config.limits.maxWsMessageBytes, &frame, &size);
        if (result == WsParse::Incomplete) {
            return;
        }
        if (result == WsParse::TooLarge) {
            refuse("websocket frame over " + std::to_string(config.limits.maxWsMessageBytes) +
                   " bytes");
            return;
        }
        buffer_.erase(0, size);
        switch (frame.opcode) {
        case kWsText:
        case kWsBinary:
            if (frame.fin || !config.wsAssembleFragments) {
                hooks_.wsMessage(frame.opcode, std::move(frame.payload));
            } else {
                messageType_ = frame.opcode;
                message_ = std::move(frame.payload);
            }
            break;
        case kWsContinuation:
            if (!config.wsAssembleFragments || messageType_ == 0) {
                break;
            }
            if (message_.size() + frame.payload.size() > config.limits.maxWsMessageBytes) {
                refuse("websocket message over " + std::to_string(config.limits.maxWsMessageBytes) +
                       " bytes");
                return;
            }
            message_ += frame.payload;
            if (frame.fin) {
                int type = messageType_;
                messageType_ = 0;
                hooks_.wsMessage(type, std::move(message_));
                message_.clear();
            }
            break;
        case kWsClose:
            // Answer the closing handshake and end the connection.
            sendWsFrame(kWsClose, {});
            close();
            return;
        case kWsPing:
            sendWsFrame(kWsPong, frame.payload);
            break;
        case kWsPong:
            pongTime_ = hooks_.now();
            if (config.wsDispatchPong) {
                hooks_.wsMessage(kWsPong, std::move(frame.payload));
            }
            break;
        default:
            break; // reserved opcodes are skipped
        }
    }
}

void HttpConnection::heartbeat() {
    if (closed_) {
        return;
    }
    std::int64_t now = hooks_.now();
    if (now < pingTime_) {
        // The wall clock stepped back: restart the round from now rather than
        // waiting for the clock to catch up with the old times.
        pingTime_ = now;
        pongTime_ = std::min(pongTime_, now);
    }
    switch (wsHeartbeat(now, pingTime_, pongTime_, config_->wsCloseUnanswered)) {
    case WsHeartbeat::Close:
        KOHTTP_LOG(*config_, LogLevel::Debug, "websocket pong overdue, peer " + peer_);
        close();
        break;
    case WsHeartbeat::Ping:
        sendWsFrame(kWsPing, {});
        pingTime_ = now;
        break;
    case WsHeartbeat::None:
        break;
    }
}

} // namespace kohttp
