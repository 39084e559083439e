// Public: local playback's use of voPelzoSdk, without a window. One context per
// playback with every chosen terminal, one file source per start. The library does the
// decoding, encoding and sending on its own worker thread, so every call returns
// without waiting for audio. GUI thread only.
#pragma once

#include "services/pelzo_api.h"

#include <QString>
#include <QStringList>

class LocalPlayback {
public:
    // The terminals' default login password.
    static constexpr const char* kDefaultPassword = "574213";

    explicit LocalPlayback(const PelzoApi& api = PelzoApi::library());
    LocalPlayback(const LocalPlayback&) = delete;
    LocalPlayback& operator=(const LocalPlayback&) = delete;

    // Initialises the library (every time: it tolerates that), creates the context with
    // jitter values 3 and 10 and one frame per packet, and adds every address, in order,
    // with the default password. No result is examined.
    void open(const QStringList& addresses);
    // Plays the file at `path` (UTF-8 to the library). A source left from an earlier
    // start is destroyed first, so sources never pile up in the library. Then a fresh
    // source is created, set to loop when asked, connected and opened. False when the
    // library cannot open the file; the new source stays connected then.
    bool start(const QString& path, bool loop);
    // Ends the context's connection to its source; both handles are kept.
    void stop();
    // Destroys the source, then the context, and forgets both. After an earlier release
    // the calls go out with null handles, which the library ignores.
    void release();

    pelzo_ctx* context() const { return ctx_; }
    pelzo_src* source() const { return src_; }

private:
    PelzoApi api_;
    pelzo_ctx* ctx_ = nullptr;
    pelzo_src* src_ = nullptr;
};
