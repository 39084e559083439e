#include "vo_pelzo_sdk_core/vo_pelzo_sdk_core.h"

#include <lumo/eventloop.h>

#include <cstdio>
#include <string>

std::string internal::dottedAddress(uint32_t ip) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (ip >> 24) & 0xFFu, (ip >> 16) & 0xFFu,
                  (ip >> 8) & 0xFFu, ip & 0xFFu);
    return text;
}

pelzo_ctx_imp::pelzo_ctx_imp() {
    devState.connect(this, [this](uint32_t ip, int code, const std::string& text) {
        if (record_.on_state)
            record_.on_state(&record_, internal::dottedAddress(ip).c_str(), code != 200 ? 1 : 0,
                             text.c_str());
    });
    captureData.connect(this, [this](const char* data, int length) {
        if (record_.on_capture)
            record_.on_capture(&record_, data, length);
    });
    inputVolumeReport.connect(this, [this](uint32_t ip, int volume) {
        if (record_.on_input_volume)
            record_.on_input_volume(&record_, internal::dottedAddress(ip).c_str(), volume);
    });
    outputVolumeReport.connect(this, [this](uint32_t ip, int volume) {
        if (record_.on_output_volume)
            record_.on_output_volume(&record_, internal::dottedAddress(ip).c_str(), volume);
    });
}

pelzo_ctx_imp::~pelzo_ctx_imp() {
    disconnectSource();
}

void pelzo_ctx_imp::connectSource(pelzo_src_imp* source) {
    if (source == source_)
        return;
    disconnectSource();
    if (!source)
        return;
    source_ = source;
    source->frameReady.connect(this, [this](const void* pcm, int size) { playFrame(pcm, size); });
}

void pelzo_ctx_imp::disconnectSource() {
    if (source_) {
        source_->frameReady.disconnect(this);
        source_ = nullptr;
    }
}

void pelzo_ctx_imp::retire() {
    record_ = pelzo_ctx{};
    disconnectSource();
}

namespace internal {

Registry& Registry::instance() {
    // Never destroyed: a program may end without pelzo_deinit while the worker runs.
    static Registry* registry = new Registry;
    return *registry;
}

pelzo_ctx_imp* Registry::findContext(const pelzo_ctx* handle) const {
    auto it = contexts_.find(handle);
    return it == contexts_.end() ? nullptr : it->second;
}

pelzo_src_imp* Registry::findSource(const pelzo_src* handle) const {
    auto it = sources_.find(handle);
    return it == sources_.end() ? nullptr : it->second;
}

pelzo_ctx* Registry::createContext() {
    auto* context = new pelzo_ctx_imp;
    // What a playback program wants: a short jitter buffer and one frame per packet,
    // so every 20 ms frame leaves at once.
    context->setJitter(4, 10);
    context->setPackSize(1);
    contexts_[context->handle()] = context;
    return context->handle();
}

void Registry::destroyContext(pelzo_ctx_imp* context) {
    contexts_.erase(context->handle());
    context->retire();
    lumo::DeleteLater()(context);
}

pelzo_src* Registry::createSource() {
    // Frames for the record's `context` field reach only contexts that are still alive.
    auto* source = new pelzo_src_imp([this](pelzo_ctx* handle, const char* pcm, int size) {
        if (pelzo_ctx_imp* context = findContext(handle))
            context->playFrame(pcm, size);
    });
    sources_[source->handle()] = source;
    return source->handle();
}

void Registry::destroySource(pelzo_src_imp* source) {
    sources_.erase(source->handle());
    for (auto& entry : contexts_)
        if (entry.second->source() == source)
            entry.second->disconnectSource();
    source->destroy();
}

void Registry::destroyAll() {
    while (!contexts_.empty())
        destroyContext(contexts_.begin()->second);
    while (!sources_.empty())
        destroySource(sources_.begin()->second);
}

} // namespace internal
