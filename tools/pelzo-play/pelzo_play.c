/* pelzo-play: plays an audio file to Pelzo terminals through voPelzoSdk.
 *
 *   pelzo-play [--loop] [--password P] [--volume N] [--jitter A,B] FILE ADDRESS...
 *
 * Prints what happens as it happens: terminal states, reported volumes, playback
 * progress once a second. Ends at the end of the file, or on Ctrl-C with --loop.
 * Uses nothing but the SDK's public header.
 */
#define _POSIX_C_SOURCE 200809L

#include <pelzo/pelzo_sdk.h>

#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static atomic_int framesPlayed;
static atomic_int ended;
static atomic_int failed;
static volatile sig_atomic_t interrupted;

/* Callbacks run on the SDK's worker thread: they only print and count. */
static void onState(pelzo_ctx* ctx, const char* address, int stateFailed, const char* text) {
    (void)ctx;
    if (!stateFailed)
        printf("state %s logged in\n", address);
    else if (strcmp(text, "NOT_RESPONDING") == 0)
        printf("state %s not responding\n", address);
    else
        printf("state %s refused: %s\n", address, text);
    fflush(stdout);
}

static void onOutputVolume(pelzo_ctx* ctx, const char* address, int volume) {
    (void)ctx;
    printf("volume %s output %d\n", address, volume);
    fflush(stdout);
}

static void onInputVolume(pelzo_ctx* ctx, const char* address, int volume) {
    (void)ctx;
    printf("volume %s input %d\n", address, volume);
    fflush(stdout);
}

static void onFrame(pelzo_src* src, const char* pcm, int size) {
    (void)src;
    (void)pcm;
    (void)size;
    /* 50 frames of 20 ms make a second. */
    const int n = atomic_fetch_add(&framesPlayed, 1) + 1;
    if (n % 50 == 0) {
        printf("progress %d s\n", n / 50);
        fflush(stdout);
    }
}

static void onOpen(pelzo_src* src) {
    (void)src;
    printf("open\n");
    fflush(stdout);
}

static void onError(pelzo_src* src, const char* text) {
    (void)src;
    printf("error %s\n", text);
    fflush(stdout);
    atomic_store(&failed, 1);
}

static void onEnd(pelzo_src* src) {
    (void)src;
    printf("end\n");
    fflush(stdout);
    atomic_store(&ended, 1);
}

static void onSignal(int sig) {
    (void)sig;
    interrupted = 1;
}

static int usage(void) {
    fprintf(stderr, "usage: pelzo-play [--loop] [--password P] [--volume N] [--jitter A,B] "
                    "FILE ADDRESS...\n");
    return 2;
}

int main(int argc, char** argv) {
    bool loop = false;
    const char* password = NULL;
    int volume = -1;
    int jitter1 = -1, jitter2 = -1;
    int first = 1;
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
        const char* opt = argv[first];
        const int hasValue = first + 1 < argc;
        if (strcmp(opt, "--loop") == 0) {
            loop = true;
        } else if (strcmp(opt, "--password") == 0 && hasValue) {
            password = argv[++first];
        } else if (strcmp(opt, "--volume") == 0 && hasValue) {
            volume = atoi(argv[++first]);
        } else if (strcmp(opt, "--jitter") == 0 && hasValue) {
            if (sscanf(argv[++first], "%d,%d", &jitter1, &jitter2) != 2)
                return usage();
        } else {
            return usage();
        }
    }
    if (argc - first < 2)
        return usage();
    const char* file = argv[first];

    if (pelzo_init() != 0) {
        fprintf(stderr, "pelzo-play: the SDK did not start\n");
        return 1;
    }
    pelzo_ctx* ctx = pelzo_ctx_create();
    pelzo_src* src = pelzo_src_create();
    if (!ctx || !src) {
        fprintf(stderr, "pelzo-play: could not create a context and a source\n");
        pelzo_deinit();
        return 1;
    }
    ctx->on_state = onState;
    ctx->on_input_volume = onInputVolume;
    ctx->on_output_volume = onOutputVolume;
    src->on_frame = onFrame;
    src->on_open = onOpen;
    src->on_error = onError;
    src->on_end = onEnd;

    int status = 0;
    for (int i = first + 1; i < argc; ++i) {
        if (pelzo_ctx_add_dev(ctx, argv[i], password) != 0) {
            fprintf(stderr, "pelzo-play: '%s' is not an IPv4 address\n", argv[i]);
            status = 2;
        }
    }
    if (jitter1 >= 0)
        pelzo_ctx_set_jitter_size(ctx, jitter1, jitter2);
    if (volume >= 0)
        pelzo_ctx_set_ao_volume_all(ctx, volume);
    pelzo_src_set_loop(src, loop);
    pelzo_ctx_connect_src(ctx, src);

    if (status == 0) {
        printf("pelzo-play: playing %s to %d terminal(s)%s\n", file, argc - first - 1,
               loop ? ", looping" : "");
        fflush(stdout);
        if (pelzo_src_open_url(src, file) != 0) {
            fprintf(stderr, "pelzo-play: cannot open %s\n", file);
            status = 1;
        }
    }
    if (status == 0) {
        signal(SIGINT, onSignal);
        signal(SIGTERM, onSignal);
        const struct timespec tick = {0, 20 * 1000 * 1000};
        while (!interrupted && !atomic_load(&failed) && (loop || !atomic_load(&ended)))
            nanosleep(&tick, NULL);
        printf("played %.2f s\n", atomic_load(&framesPlayed) / 50.0);
    }

    pelzo_src_destroy(src);
    pelzo_ctx_destroy(ctx);
    pelzo_deinit();
    return status;
}
