#include "pelzo-sdk/pelzo-dev.h"

namespace pelzo {

PelzoDevRegistry& PelzoDevRegistry::instance() {
    // Never destroyed: contexts hold pointers to records until the very end.
    static PelzoDevRegistry* registry = new PelzoDevRegistry;
    return *registry;
}

PelzoDev* PelzoDevRegistry::find(uint32_t ip) {
    auto it = records_.find(ip);
    return it == records_.end() ? nullptr : &it->second;
}

PelzoDev& PelzoDevRegistry::obtain(uint32_t ip, int64_t now) {
    auto [it, created] = records_.try_emplace(ip);
    if (created) {
        it->second.ip = ip;
        it->second.lastSeen = now;
    }
    return it->second;
}

} // namespace pelzo
