/* Public record of an audio file source: the callbacks an embedding program sets on a
 * source handle. All callbacks run on the SDK's worker thread and must neither block
 * nor call back into the SDK. */
#ifndef PELZO_PELZO_SRC_H
#define PELZO_PELZO_SRC_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct pelzo_src pelzo_src;
typedef struct pelzo_ctx pelzo_ctx;

struct pelzo_src {
    /* Every released 20 ms frame: 48000 Hz mono signed 16-bit PCM. */
    void (*on_frame)(pelzo_src* src, const char* pcm, int size);
    /* Once after a failed open, with the text "打开失败". */
    void (*on_error)(pelzo_src* src, const char* text);
    /* Once after a successful open. */
    void (*on_open)(pelzo_src* src);
    /* Before the first frame after an open and after each restart of a loop. */
    void (*on_start)(pelzo_src* src);
    /* Each time the end of the input is reached. */
    void (*on_end)(pelzo_src* src);
    /* A context that also receives every frame, when set. */
    pelzo_ctx* context;
};

#ifdef __cplusplus
}
#endif

#endif
