// The objects behind the C interface's handles and the worker thread's registry of them.
#pragma once

#include "pelzo/pelzo_sdk.h"
#include "vo_pelzo_sdk_core/pelzo-src.h"

#include <pelzo-sdk/pelzo-ctx.h>

#include <cstdint>
#include <map>
#include <string>

// A context created through the C interface: a PelzoContext whose public record is the
// handle, forwarding its events to the record's callbacks. Loop thread only.
class pelzo_ctx_imp : public pelzo::PelzoContext {
public:
    pelzo_ctx_imp();
    ~pelzo_ctx_imp() override;

    pelzo_ctx* handle() { return &record_; }
    const pelzo_ctx* handle() const { return &record_; }

    // The source whose frames this context plays, or null.
    pelzo_src_imp* source() const { return source_; }
    // Plays `source`'s frames from now on, ending any other connection; the same source
    // again changes nothing.
    void connectSource(pelzo_src_imp* source);
    // Ends the connection to the current source, if any.
    void disconnectSource();
    // Called when the context leaves the registry: no callback runs after this.
    void retire();

private:
    pelzo_ctx record_{};
    pelzo_src_imp* source_ = nullptr;
};

namespace internal {

// How often pelzo_init tries to connect its command client, and the pause between
// tries (50 and 60 ms unless changed). Tests that make the connection fail shorten it.
void setClientConnectAttempts(int attempts, int pauseMs);

// A host-order IPv4 address as dotted text.
std::string dottedAddress(uint32_t ip);

// The live contexts and sources, keyed by handle (ascending addresses). Worker thread
// only; handles are checked here before they are used.
class Registry {
public:
    static Registry& instance();

    pelzo_ctx_imp* findContext(const pelzo_ctx* handle) const;
    pelzo_src_imp* findSource(const pelzo_src* handle) const;

    pelzo_ctx* createContext();
    void destroyContext(pelzo_ctx_imp* context);
    pelzo_src* createSource();
    void destroySource(pelzo_src_imp* source);
    // Destroys whatever the program left behind (at the worker's end).
    void destroyAll();

    const std::map<const pelzo_ctx*, pelzo_ctx_imp*>& contexts() const { return contexts_; }
    const std::map<const pelzo_src*, pelzo_src_imp*>& sources() const { return sources_; }

private:
    std::map<const pelzo_ctx*, pelzo_ctx_imp*> contexts_;
    std::map<const pelzo_src*, pelzo_src_imp*> sources_;
};

} // namespace internal
