#include "services/pelzo_api.h"

const PelzoApi& PelzoApi::library() {
    static const PelzoApi api{
        pelzo_init,
        pelzo_ctx_create,
        pelzo_ctx_set_jitter_size,
        pelzo_ctx_set_pack_size,
        pelzo_ctx_add_dev,
        pelzo_src_create,
        pelzo_src_set_loop,
        pelzo_ctx_connect_src,
        pelzo_src_open_url,
        pelzo_ctx_disconnect_src,
        pelzo_src_destroy,
        pelzo_ctx_destroy,
    };
    return api;
}
