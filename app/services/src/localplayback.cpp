#include "services/localplayback.h"

LocalPlayback::LocalPlayback(const PelzoApi& api) : api_(api) {}

void LocalPlayback::open(const QStringList& addresses) {
    api_.init();
    ctx_ = api_.ctxCreate();
    api_.ctxSetJitterSize(ctx_, 3, 10);
    api_.ctxSetPackSize(ctx_, 1);
    for (const QString& address : addresses)
        api_.ctxAddDev(ctx_, address.toUtf8().constData(), kDefaultPassword);
}

bool LocalPlayback::start(const QString& path, bool loop) {
    if (src_) {
        // Otherwise the earlier source would go on decoding on the library's worker,
        // unreachable, for as long as the program runs.
        api_.srcDestroy(src_);
        src_ = nullptr;
    }
    src_ = api_.srcCreate();
    if (loop)
        api_.srcSetLoop(src_, true);
    api_.ctxConnectSrc(ctx_, src_);
    return api_.srcOpenUrl(src_, path.toUtf8().constData()) == 0;
}

void LocalPlayback::stop() {
    api_.ctxDisconnectSrc(ctx_);
}

void LocalPlayback::release() {
    api_.srcDestroy(src_);
    api_.ctxDestroy(ctx_);
    src_ = nullptr;
    ctx_ = nullptr;
}
