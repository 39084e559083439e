/* voPelzoSdk: stream audio to Pelzo terminals over UDP.
 *
 * Usage in short: pelzo_init(); create a context, add terminals, create a source, connect
 * it to the context and open a file; the source plays it in real time to every terminal
 * of the context. Destroy sources and contexts, then pelzo_deinit().
 *
 * Threads. Everything the SDK owns (contexts, sources, sockets, timers) lives on one
 * worker thread started by pelzo_init. Every function below may be called from any thread
 * other than that worker; calls from several threads at once are serialised in the order
 * they reach the worker. Most calls are "waited": they return after the worker has run
 * them. "Posted" calls return at once and run later, in order.
 *
 * Callbacks (the fields of pelzo_ctx and pelzo_src) run on the worker thread, one at a
 * time. They must not block and must not call any function of this header: such a call
 * is refused (it returns 1 or does nothing, with a log line).
 *
 * Results: 0 for success, 1 for failure, unless a function says otherwise. A handle that
 * was not returned by a create call of the current initialisation, or that was already
 * destroyed, is invalid: functions with a result return 1, the others do nothing. Every
 * function except pelzo_current_time_ms fails the same way before pelzo_init and after
 * pelzo_deinit.
 *
 * Texts are zero-terminated UTF-8 byte strings, copied before the call returns; a null
 * pointer where a text is required makes the call fail. Handles are owned by the SDK;
 * no memory allocated by the SDK is handed to the caller.
 */
#ifndef PELZO_PELZO_SDK_H
#define PELZO_PELZO_SDK_H

#include <stdbool.h>
#include <stdint.h>

#include "pelzo/pelzo_src.h"

#if defined(_WIN32)
#if defined(PELZO_BUILDING_SDK)
#define PELZO_API __declspec(dllexport)
#else
#define PELZO_API __declspec(dllimport)
#endif
#else
#define PELZO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A terminal's login outcome or "NOT_RESPONDING": `address` is the terminal's dotted IPv4
 * address, `failed` is 0 for an accepted login and 1 otherwise, `text` the terminal's
 * message (empty for an accepted login). The texts are valid during the call only. */
typedef void (*pelzo_state_cb)(pelzo_ctx* ctx, const char* address, int failed, const char* text);
/* Captured audio from the capture terminal: `length` bytes valid during the call only. */
typedef void (*pelzo_capture_cb)(pelzo_ctx* ctx, const char* data, int length);
/* A volume (0-100) reported by the terminal at `address`. */
typedef void (*pelzo_volume_cb)(pelzo_ctx* ctx, const char* address, int volume);

/* Public record of a context; its address is the context handle. All fields are null
 * after pelzo_ctx_create; set them before adding terminals so no event is missed. */
struct pelzo_ctx {
    pelzo_state_cb on_state;
    pelzo_capture_cb on_capture;
    pelzo_volume_cb on_input_volume;
    pelzo_volume_cb on_output_volume;
};

/* ---- life cycle ------------------------------------------------------------------ */

/* Starts the worker thread and connects to it.
 * Result: 0 when the SDK is ready (also when it already was); 1 when the worker could not
 * start (its command server could not listen) or could not be reached, or when called
 * from a callback. May be called again after pelzo_deinit. Thread-safe. */
PELZO_API int pelzo_init(void);

/* Stops and joins the worker thread. Contexts and sources still alive are destroyed
 * with it and their handles become invalid; destroy them yourself beforehand.
 * Result: 1 when not initialised (or called from a callback), else 0. Thread-safe; calls
 * made by other threads meanwhile fail. */
PELZO_API int pelzo_deinit(void);

/* The SDK's millisecond clock (local wall time), in which terminals' last-heard times
 * are kept. Timers and playback pacing run on a monotonic clock of their own, so setting
 * the wall clock neither delays nor hurries them. Needs no pelzo_init. Thread-safe. */
PELZO_API int64_t pelzo_current_time_ms(void);

/* ---- contexts -------------------------------------------------------------------- */

/* Creates a streaming context with its own UDP socket: jitter values 4 and 10, one
 * Opus frame per packet, priority 3, automatic bit rate, no terminals.
 * Result: the handle, owned by the SDK until pelzo_ctx_destroy; null on failure. Waited. */
PELZO_API pelzo_ctx* pelzo_ctx_create(void);

/* Destroys `ctx`: its terminals stop receiving audio, its callbacks are not called any
 * more, its source connection ends. The handle is invalid afterwards. Posted. */
PELZO_API void pelzo_ctx_destroy(pelzo_ctx* ctx);

/* Adds the terminal at dotted IPv4 `address` to the receivers of `ctx`. `password` is
 * the terminal's login password; null or empty means the default 574213. A terminal
 * already in the context keeps its password.
 * Result: 0, or 1 for an invalid handle or address. Waited. */
PELZO_API int pelzo_ctx_add_dev(pelzo_ctx* ctx, const char* address, const char* password);

/* Removes the terminal at `address` from the receivers of `ctx` (0 also when absent).
 * Result: 1 for an invalid handle or address. Waited. */
PELZO_API int pelzo_ctx_del_dev(pelzo_ctx* ctx, const char* address);

/* Chooses the terminal whose audio `ctx` captures, with its login password (null means
 * empty). It is not added to the receivers. Result: 1 for an invalid handle or address.
 * Waited. */
PELZO_API int pelzo_ctx_set_capture_dev(pelzo_ctx* ctx, const char* address, const char* password);

/* Asks the capture terminal to send audio at `sample_rate` Hz; it arrives through
 * on_capture. Result: 1 for an invalid handle or a rate the protocol has no code for.
 * Waited. */
PELZO_API int pelzo_ctx_start_capture(pelzo_ctx* ctx, int sample_rate);

/* Asks the capture terminal to stop sending audio. Waited. */
PELZO_API void pelzo_ctx_stop_capture(pelzo_ctx* ctx);

/* Sets the capture terminal's input volume (sent when 0-100). Waited. */
PELZO_API void pelzo_ctx_set_ai_volume(pelzo_ctx* ctx, int volume);

/* Sets the output volume of the terminal at `address`, one of the context's receivers
 * (sent when 0-100, and again after each login). Waited. */
PELZO_API void pelzo_ctx_set_ao_volume(pelzo_ctx* ctx, const char* address, int volume);

/* Sets the output volume of every receiver of `ctx`. Waited. */
PELZO_API void pelzo_ctx_set_ao_volume_all(pelzo_ctx* ctx, int volume);

/* Sets the Opus bit rate: a negative value means automatic, 0 the encoder's default,
 * otherwise 500 to 512000 bits per second. Result: 1 for an invalid handle or a value out
 * of range (nothing changes). Waited. */
PELZO_API int pelzo_ctx_set_bitrate(pelzo_ctx* ctx, int bits_per_second);

/* Sets the two jitter-buffer values carried in every later audio packet.
 * Result: 1 for an invalid handle. Waited. */
PELZO_API int pelzo_ctx_set_jitter_size(pelzo_ctx* ctx, int jitter1, int jitter2);

/* Sets how many 20 ms Opus frames go into one packet (1: lowest latency).
 * Result: 1 for an invalid handle. Waited. */
PELZO_API int pelzo_ctx_set_pack_size(pelzo_ctx* ctx, int frames);

/* Sets the priority carried in every later audio packet (its low 4 bits).
 * Result: 1 for an invalid handle. Waited. */
PELZO_API int pelzo_ctx_set_priority(pelzo_ctx* ctx, int priority);

/* Encodes one 20 ms frame of signed 16-bit little-endian mono PCM and sends it to every
 * receiver of `ctx`. The sample rate follows from `length`: 320 bytes 8000 Hz, 640 bytes
 * 16000 Hz, 960 bytes 24000 Hz, 1920 bytes 48000 Hz; other lengths are ignored. The bytes
 * are copied before the call returns. Pace the calls yourself: one frame per 20 ms.
 * Posted. */
PELZO_API void pelzo_ctx_play_frame(pelzo_ctx* ctx, const char* pcm, int length);

/* Makes `ctx` play every frame that `src` releases, ending its connection to any other
 * source first. An invalid `src` leaves `ctx` connected to nothing. Several contexts may
 * play one source. Waited. */
PELZO_API void pelzo_ctx_connect_src(pelzo_ctx* ctx, pelzo_src* src);

/* Ends the connection of `ctx` to its source, if any. Waited. */
PELZO_API void pelzo_ctx_disconnect_src(pelzo_ctx* ctx);

/* ---- sources --------------------------------------------------------------------- */

/* Creates an audio file source (no file yet, not looping; all record fields null).
 * Result: the handle, owned by the SDK until pelzo_src_destroy; null on failure. Waited. */
PELZO_API pelzo_src* pelzo_src_create(void);

/* Stops `src` and destroys it; contexts connected to it are left unconnected. The handle
 * is invalid afterwards. Waited. */
PELZO_API void pelzo_src_destroy(pelzo_src* src);

/* Opens `url` (a file name or anything FFmpeg opens) and starts playing it in real time:
 * 48000 Hz mono, one frame every 20 ms. on_open follows on success, on_error on failure.
 * Result: 0 when opened; 1 for an invalid handle or an input that cannot be opened.
 * Waited (opening blocks the worker while FFmpeg probes the input). */
PELZO_API int pelzo_src_open_url(pelzo_src* src, const char* url);

/* With `loop` set, playback restarts at the beginning at the end of the input.
 * Takes effect at the next end of input. Waited. */
PELZO_API void pelzo_src_set_loop(pelzo_src* src, bool loop);

/* ---- REST view ------------------------------------------------------------------- */

/* Serves a read-only JSON view of the live contexts at GET /v1/ctx on `address`:`port`
 * (an empty address or "0.0.0.0" means all addresses; the view shows terminal
 * passwords, so prefer 127.0.0.1). The server runs on the worker thread until
 * pelzo_deinit; after a new pelzo_init it can be started again.
 * Result: 0 when serving (also when already started, whatever the arguments); 1 when it
 * could not listen (a port outside 0-65535 included). Waited. */
PELZO_API int pelzo_start_rest_server(const char* address, int port);

#ifdef __cplusplus
}
#endif

#endif
