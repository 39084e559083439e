/* pelzo-play: plays an audio file to Pelzo terminals through voPelzoSdk.
 *
 *   pelzo-play [--loop] [--stats] [--password P] [--volume N] [--jitter A,B] FILE ADDRESS...
 *
 * Prints what happens as it happens: terminal states, reported volumes, playback
 * progress once a second, and with --stats the stream figures of every terminal and of
 * the source once a second (read from the SDK's REST view, which it starts on a free
 * loopback port). Ends at the end of the file, or on Ctrl-C with --loop. Uses nothing
 * but the SDK's public header.
 */
#define _POSIX_C_SOURCE 200809L

#include <pelzo/pelzo_sdk.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

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
    fprintf(stderr, "usage: pelzo-play [--loop] [--stats] [--password P] [--volume N] "
                    "[--jitter A,B] FILE ADDRESS...\n");
    return 2;
}

/* --- stream figures from the REST view ------------------------------------------------ */

/* Starts the SDK's REST view on a loopback port nobody holds; 0 when none could be had. */
static int startStatsView(void) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in sa;
        socklen_t len = sizeof sa;
        memset(&sa, 0, sizeof sa);
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int bound = fd >= 0 && bind(fd, (struct sockaddr*)&sa, sizeof sa) == 0 &&
                          getsockname(fd, (struct sockaddr*)&sa, &len) == 0;
        if (fd >= 0)
            close(fd);
        /* Someone may take the port between close and listen: try another one then. */
        if (bound && pelzo_start_rest_server("127.0.0.1", ntohs(sa.sin_port)) == 0)
            return ntohs(sa.sin_port);
    }
    return 0;
}

/* The body of GET path from 127.0.0.1:port, NUL-terminated, to be freed; NULL on failure. */
static char* httpGet(int port, const char* path) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return NULL;
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((unsigned short)port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char request[256];
    const int n = snprintf(request, sizeof request,
                           "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", path);
    char* all = NULL;
    size_t size = 0;
    if (connect(fd, (struct sockaddr*)&sa, sizeof sa) == 0 &&
        send(fd, request, (size_t)n, 0) == (ssize_t)n) {
        char chunk[4096];
        ssize_t got;
        while ((got = recv(fd, chunk, sizeof chunk, 0)) > 0) {
            char* grown = realloc(all, size + (size_t)got + 1);
            if (!grown)
                break;
            all = grown;
            memcpy(all + size, chunk, (size_t)got);
            size += (size_t)got;
            all[size] = '\0';
        }
    }
    close(fd);
    const char* body = all ? strstr(all, "\r\n\r\n") : NULL;
    if (!body || strncmp(all, "HTTP/1.1 200", 12) != 0) {
        free(all);
        return NULL;
    }
    memmove(all, body + 4, strlen(body + 4) + 1);
    return all;
}

/* Just enough JSON reading for the view's own compact output. Each function takes a
 * pointer into the text and returns one past what it read, or NULL on malformed text. */
static const char* jsonSpace(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    return p;
}

static const char* jsonSkipString(const char* p) {
    for (++p; *p && *p != '"'; ++p)
        if (*p == '\\' && p[1])
            ++p;
    return *p ? p + 1 : NULL;
}

static const char* jsonSkipValue(const char* p) {
    p = jsonSpace(p);
    if (*p == '"')
        return jsonSkipString(p);
    if (*p == '{' || *p == '[') {
        const char close = *p == '{' ? '}' : ']';
        p = jsonSpace(p + 1);
        if (*p == close)
            return p + 1;
        for (;;) {
            if (close == '}') {
                if (*p != '"' || !(p = jsonSkipString(p)))
                    return NULL;
                p = jsonSpace(p);
                if (*p++ != ':')
                    return NULL;
            }
            if (!(p = jsonSkipValue(p)))
                return NULL;
            p = jsonSpace(p);
            if (*p == ',') {
                p = jsonSpace(p + 1);
                continue;
            }
            return *p == close ? p + 1 : NULL;
        }
    }
    const char* start = p;
    while (*p && strchr("+-.0123456789eEtruefalsn", *p))
        ++p;
    return p > start ? p : NULL;
}

/* The value of member key of the object at obj, NULL when it has none. */
static const char* jsonMember(const char* obj, const char* key) {
    if (!obj || *(obj = jsonSpace(obj)) != '{')
        return NULL;
    const size_t keyLength = strlen(key);
    const char* p = jsonSpace(obj + 1);
    while (*p == '"') {
        const char* name = p + 1;
        const char* end = jsonSkipString(p);
        if (!end)
            return NULL;
        const int match = (size_t)(end - 1 - name) == keyLength && !strncmp(name, key, keyLength);
        p = jsonSpace(end);
        if (*p++ != ':')
            return NULL;
        p = jsonSpace(p);
        if (match)
            return p;
        if (!(p = jsonSkipValue(p)))
            return NULL;
        p = jsonSpace(p);
        if (*p != ',')
            break;
        p = jsonSpace(p + 1);
    }
    return NULL;
}

/* Element i of the array at arr, NULL past its end. */
static const char* jsonElement(const char* arr, int i) {
    if (!arr || *(arr = jsonSpace(arr)) != '[')
        return NULL;
    const char* p = jsonSpace(arr + 1);
    for (int k = 0; *p && *p != ']'; ++k) {
        if (k == i)
            return p;
        if (!(p = jsonSkipValue(p)))
            return NULL;
        p = jsonSpace(p);
        if (*p == ',')
            p = jsonSpace(p + 1);
    }
    return NULL;
}

static long long jsonNumber(const char* v) {
    return v ? strtoll(v, NULL, 10) : -1;
}

/* A string value without escapes (addresses and handles have none) into out. */
static void jsonText(const char* v, char* out, size_t size) {
    size_t n = 0;
    if (v && *v == '"')
        for (++v; *v && *v != '"' && n + 1 < size; ++v)
            out[n++] = *v;
    out[n] = '\0';
}

/* One "stats" line per terminal of ctx, then one for its source. */
static void printStats(int port, const pelzo_ctx* ctx) {
    char* body = httpGet(port, "/v1/ctx");
    if (!body) {
        printf("stats unavailable\n");
        fflush(stdout);
        return;
    }
    char handle[32], addr[32];
    snprintf(handle, sizeof handle, "%p", (const void*)ctx);
    const char* data = jsonMember(body, "data");
    const char* mine = NULL;
    for (int i = 0; !mine && jsonElement(data, i); ++i) {
        jsonText(jsonMember(jsonElement(data, i), "addr"), addr, sizeof addr);
        if (strcmp(addr, handle) == 0)
            mine = jsonElement(data, i);
    }
    const char* devices = jsonMember(mine, "devices");
    for (int i = 0; jsonElement(devices, i); ++i) {
        const char* d = jsonElement(devices, i);
        char ip[32], heartbeat[32];
        jsonText(jsonMember(d, "ip"), ip, sizeof ip);
        const long long age = jsonNumber(jsonMember(d, "heartbeat_age_ms"));
        if (age < 0)
            snprintf(heartbeat, sizeof heartbeat, "-");
        else
            snprintf(heartbeat, sizeof heartbeat, "%lld ms", age);
        printf("stats %s packets %lld bytes %lld failed %lld heartbeat %s logins %lld "
               "refusals %lld not-responding %lld\n",
               ip, jsonNumber(jsonMember(d, "packets_sent")),
               jsonNumber(jsonMember(d, "bytes_sent")), jsonNumber(jsonMember(d, "send_failures")),
               heartbeat, jsonNumber(jsonMember(d, "logins")),
               jsonNumber(jsonMember(d, "refusals")), jsonNumber(jsonMember(d, "not_responding")));
    }
    const char* src = jsonMember(mine, "src");
    if (src)
        printf("stats source late %lld skipped %lld\n", jsonNumber(jsonMember(src, "frames_late")),
               jsonNumber(jsonMember(src, "frames_skipped")));
    fflush(stdout);
    free(body);
}

static double monotonicSeconds(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    bool loop = false;
    bool stats = false;
    const char* password = NULL;
    int volume = -1;
    int jitter1 = -1, jitter2 = -1;
    int first = 1;
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
        const char* opt = argv[first];
        const int hasValue = first + 1 < argc;
        if (strcmp(opt, "--loop") == 0) {
            loop = true;
        } else if (strcmp(opt, "--stats") == 0) {
            stats = true;
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

    int statsPort = 0;
    if (status == 0 && stats) {
        statsPort = startStatsView();
        if (!statsPort)
            fprintf(stderr, "pelzo-play: no stream figures: the REST view did not start\n");
    }
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
        double nextStats = monotonicSeconds() + 1.0;
        while (!interrupted && !atomic_load(&failed) && (loop || !atomic_load(&ended))) {
            nanosleep(&tick, NULL);
            if (statsPort && monotonicSeconds() >= nextStats) {
                printStats(statsPort, ctx);
                nextStats += 1.0;
            }
        }
        /* The figures once more, as they stand at the end. */
        if (statsPort)
            printStats(statsPort, ctx);
        printf("played %.2f s\n", atomic_load(&framesPlayed) / 50.0);
    }

    pelzo_src_destroy(src);
    pelzo_ctx_destroy(ctx);
    pelzo_deinit();
    return status;
}
