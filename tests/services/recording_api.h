// The library's functions with a record of every call local playback makes: name,
// arguments (handles named ctx1, src1, ... in order of creation; null as "null") and
// result. Each call goes on to the real library.
#pragma once

#include "services/pelzo_api.h"

#include <map>
#include <string>
#include <vector>

namespace recording {

inline std::vector<std::string>& calls() {
    static std::vector<std::string> list;
    return list;
}

inline std::map<const void*, std::string>& names() {
    static std::map<const void*, std::string> map;
    return map;
}

inline std::string nameOf(const void* handle) {
    if (!handle)
        return "null";
    auto it = names().find(handle);
    return it != names().end() ? it->second : "unknown";
}

inline std::map<std::string, int>& counts() {
    static std::map<std::string, int> map;
    return map;
}

inline std::string named(const void* handle, const char* kind) {
    if (!handle)
        return "null";
    const std::string name = kind + std::to_string(++counts()[kind]);
    names()[handle] = name;
    return name;
}

inline void add(const std::string& call) {
    calls().push_back(call);
}

inline std::string quoted(const char* text) {
    return text ? "\"" + std::string(text) + "\"" : "null";
}

inline int init() {
    const int r = pelzo_init();
    add("init() = " + std::to_string(r));
    return r;
}
inline pelzo_ctx* ctxCreate() {
    pelzo_ctx* ctx = pelzo_ctx_create();
    add("ctx_create() = " + named(ctx, "ctx"));
    return ctx;
}
inline int ctxSetJitterSize(pelzo_ctx* ctx, int a, int b) {
    const int r = pelzo_ctx_set_jitter_size(ctx, a, b);
    add("ctx_set_jitter_size(" + nameOf(ctx) + ", " + std::to_string(a) + ", " + std::to_string(b) +
        ") = " + std::to_string(r));
    return r;
}
inline int ctxSetPackSize(pelzo_ctx* ctx, int frames) {
    const int r = pelzo_ctx_set_pack_size(ctx, frames);
    add("ctx_set_pack_size(" + nameOf(ctx) + ", " + std::to_string(frames) +
        ") = " + std::to_string(r));
    return r;
}
inline int ctxAddDev(pelzo_ctx* ctx, const char* address, const char* password) {
    const int r = pelzo_ctx_add_dev(ctx, address, password);
    add("ctx_add_dev(" + nameOf(ctx) + ", " + quoted(address) + ", " + quoted(password) +
        ") = " + std::to_string(r));
    return r;
}
inline pelzo_src* srcCreate() {
    pelzo_src* src = pelzo_src_create();
    add("src_create() = " + named(src, "src"));
    return src;
}
inline void srcSetLoop(pelzo_src* src, bool loop) {
    pelzo_src_set_loop(src, loop);
    add("src_set_loop(" + nameOf(src) + ", " + std::to_string(int(loop)) + ")");
}
inline void ctxConnectSrc(pelzo_ctx* ctx, pelzo_src* src) {
    pelzo_ctx_connect_src(ctx, src);
    add("ctx_connect_src(" + nameOf(ctx) + ", " + nameOf(src) + ")");
}
inline int srcOpenUrl(pelzo_src* src, const char* url) {
    const int r = pelzo_src_open_url(src, url);
    add("src_open_url(" + nameOf(src) + ", " + quoted(url) + ") = " + std::to_string(r));
    return r;
}
inline void ctxDisconnectSrc(pelzo_ctx* ctx) {
    pelzo_ctx_disconnect_src(ctx);
    add("ctx_disconnect_src(" + nameOf(ctx) + ")");
}
inline void srcDestroy(pelzo_src* src) {
    pelzo_src_destroy(src);
    add("src_destroy(" + nameOf(src) + ")");
}
inline void ctxDestroy(pelzo_ctx* ctx) {
    pelzo_ctx_destroy(ctx);
    add("ctx_destroy(" + nameOf(ctx) + ")");
}

inline const PelzoApi& api() {
    static const PelzoApi table{init,       ctxCreate,        ctxSetJitterSize, ctxSetPackSize,
                                ctxAddDev,  srcCreate,        srcSetLoop,       ctxConnectSrc,
                                srcOpenUrl, ctxDisconnectSrc, srcDestroy,       ctxDestroy};
    return table;
}

// Forgets every call and handle name: the next handles are ctx1 and src1 again.
inline void reset() {
    calls().clear();
    names().clear();
    counts().clear();
}

// The calls recorded since the last take, and a fresh start.
inline std::vector<std::string> take() {
    std::vector<std::string> out;
    out.swap(calls());
    return out;
}

} // namespace recording
