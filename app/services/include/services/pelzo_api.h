// Public: the twelve functions of voPelzoSdk that local playback calls, as a table of
// function pointers. The program uses the library's own functions; tests put recording
// wrappers around them to check the exact calls.
#pragma once

#include <pelzo/pelzo_sdk.h>

struct PelzoApi {
    int (*init)(void);
    pelzo_ctx* (*ctxCreate)(void);
    int (*ctxSetJitterSize)(pelzo_ctx* ctx, int jitter1, int jitter2);
    int (*ctxSetPackSize)(pelzo_ctx* ctx, int frames);
    int (*ctxAddDev)(pelzo_ctx* ctx, const char* address, const char* password);
    pelzo_src* (*srcCreate)(void);
    void (*srcSetLoop)(pelzo_src* src, bool loop);
    void (*ctxConnectSrc)(pelzo_ctx* ctx, pelzo_src* src);
    int (*srcOpenUrl)(pelzo_src* src, const char* url);
    void (*ctxDisconnectSrc)(pelzo_ctx* ctx);
    void (*srcDestroy)(pelzo_src* src);
    void (*ctxDestroy)(pelzo_ctx* ctx);

    // The exports of libvoPelzoSdk.
    static const PelzoApi& library();
};
