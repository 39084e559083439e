// The exported C functions, the worker thread and the process-wide SDK state.
#include "vo_pelzo_sdk_core/vo_pelzo_sdk_core.h"

#include "vo_pelzo_sdk_core/cmd_pipe.h"
#include "vo_pelzo_sdk_core/rest_view.h"

#include <lumo/clock.h>
#include <lumo/eventloop.h>
#include <lumo/logger.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

using internal::CmdClient;
using internal::CmdServer;
using internal::CommandLedger;
using internal::Registry;

namespace {

// How long pelzo_init keeps trying to reach its own worker: 50 attempts, 60 ms apart.
std::atomic<int> gConnectAttempts{50};
std::atomic<int> gConnectPauseMs{60};

struct Sdk {
    // pelzo_init and pelzo_deinit, one at a time.
    std::mutex life;
    std::thread worker;
    std::atomic<std::thread::id> workerId{std::thread::id()};
    // Set by pelzo_deinit before it lets go of the client, so the worker also stops when
    // the stop command itself could not be delivered.
    std::atomic<bool> stopping{false};
    // Ends the worker's loop after the current pass.
    std::atomic<bool> stopWorker{false};

    std::mutex clientMutex;
    std::shared_ptr<CmdClient> client;
    std::shared_ptr<CommandLedger> ledger;

    // Worker thread only.
    CmdServer* cmdServer = nullptr;
    std::unique_ptr<internal::RestView> restView;
};

Sdk& sdk() {
    // Never destroyed: a program may end without pelzo_deinit while the worker runs.
    static Sdk* state = new Sdk;
    return *state;
}

bool onWorkerThread() {
    return std::this_thread::get_id() == sdk().workerId.load();
}

// A callback calling back into the SDK would wait for the very thread it runs on.
bool refusedOnWorker(const char* function) {
    if (!onWorkerThread())
        return false;
    LUMO_LOG_TO(CmdClient::logger(), lumo::Logger::Error,
                "%s refused: called on the SDK's worker thread (from a callback)", function);
    return true;
}

// Runs on the worker: releases every object it holds. Deletion is deferred to the end of
// the pass (or to the thread's end).
void releaseWorkerObjects() {
    Sdk& state = sdk();
    Registry::instance().destroyAll();
    // The view's sockets belong to this worker's loop: it ends with it.
    state.restView.reset();
    if (state.cmdServer) {
        state.cmdServer->close();
        lumo::DeleteLater()(state.cmdServer);
        state.cmdServer = nullptr;
    }
}

// Runs on the worker: releases everything and ends its loop after this pass, whose
// deferred deletions then run as well.
void shutdownWorker() {
    Sdk& state = sdk();
    if (state.stopWorker.load())
        return;
    releaseWorkerObjects();
    state.stopWorker.store(true);
}

void workerMain(std::string secret, std::shared_ptr<CommandLedger> ledger,
                std::promise<uint16_t> started) {
    Sdk& state = sdk();
    state.workerId.store(std::this_thread::get_id());
    lumo::EventLoopImpl* loop = lumo::EventLoopImpl::current();
    auto* server = new CmdServer(std::move(secret), std::move(ledger));
    if (!server->start()) {
        delete server;
        started.set_value(0);
        return;
    }
    state.cmdServer = server;
    server->clientGone.connect(nullptr, [] {
        if (sdk().stopping.load())
            shutdownWorker();
    });
    started.set_value(server->port());
    while (!state.stopWorker.load())
        loop->processOnce();
    // Stopped by the flag alone (pelzo_init gave up on its client): the server and its
    // socket go now; the thread's end runs the deferred deletions.
    releaseWorkerObjects();
    LUMO_LOG_INFO("child thread exited");
}

std::shared_ptr<CmdClient> currentClient() {
    Sdk& state = sdk();
    std::lock_guard<std::mutex> lock(state.clientMutex);
    return state.client;
}

// Hands `fn` to the worker; false when it cannot (not initialised, called from a
// callback, pipe broken) or when the worker stopped before running a waited call.
bool runOnWorker(const char* function, std::function<void()> fn, bool waited) {
    if (refusedOnWorker(function))
        return false;
    std::shared_ptr<CmdClient> client = currentClient();
    return client && client->call(std::move(fn), waited);
}

template <typename R, typename Fn> R waitedResult(const char* function, R failure, Fn fn) {
    R result = failure;
    runOnWorker(
        function, [&result, &fn] { result = fn(); }, true);
    return result;
}

template <typename Fn> int onContext(const char* function, pelzo_ctx* ctx, Fn fn) {
    return waitedResult(function, 1, [ctx, &fn] {
        pelzo_ctx_imp* context = Registry::instance().findContext(ctx);
        return context ? fn(*context) : 1;
    });
}

template <typename Fn> void onContextVoid(const char* function, pelzo_ctx* ctx, Fn fn) {
    runOnWorker(
        function,
        [ctx, &fn] {
            if (pelzo_ctx_imp* context = Registry::instance().findContext(ctx))
                fn(*context);
        },
        true);
}

template <typename Fn> int onSource(const char* function, pelzo_src* src, Fn fn) {
    return waitedResult(function, 1, [src, &fn] {
        pelzo_src_imp* source = Registry::instance().findSource(src);
        return source ? fn(*source) : 1;
    });
}

std::string textOrEmpty(const char* text) {
    return text ? std::string(text) : std::string();
}

void stopWorkerThread(Sdk& state) {
    state.worker.join();
    state.workerId.store(std::thread::id());
}

} // namespace

void internal::setClientConnectAttempts(int attempts, int pauseMs) {
    gConnectAttempts.store(attempts);
    gConnectPauseMs.store(pauseMs);
}

extern "C" {

PELZO_API int pelzo_init(void) {
    if (refusedOnWorker(__func__))
        return 1;
    Sdk& state = sdk();
    std::lock_guard<std::mutex> life(state.life);
    if (state.worker.joinable())
        return 0;
    auto ledger = std::make_shared<CommandLedger>();
    const std::string secret = internal::makeSecret();
    state.stopping.store(false);
    state.stopWorker.store(false);
    std::promise<uint16_t> started;
    std::future<uint16_t> port = started.get_future();
    try {
        state.worker = std::thread(workerMain, secret, ledger, std::move(started));
    } catch (const std::system_error& e) {
        LUMO_LOG_ERROR("failed to start the SDK's worker thread: %s", e.what());
        return 1;
    }
    const uint16_t serverPort = port.get();
    if (serverPort == 0) {
        stopWorkerThread(state);
        return 1;
    }
    auto client = std::make_shared<CmdClient>(serverPort, secret, ledger);
    bool connected = client->connect();
    const int attempts = gConnectAttempts.load();
    const std::chrono::milliseconds pause{gConnectPauseMs.load()};
    for (int attempt = 1; !connected && attempt < attempts; ++attempt) {
        std::this_thread::sleep_for(pause);
        connected = client->connect();
    }
    if (!connected) {
        // The loop notices the flag within a pass (at most a second without timers).
        state.stopWorker.store(true);
        stopWorkerThread(state);
        return 1;
    }
    std::lock_guard<std::mutex> lock(state.clientMutex);
    state.client = std::move(client);
    state.ledger = std::move(ledger);
    return 0;
}

PELZO_API int pelzo_deinit(void) {
    if (refusedOnWorker(__func__))
        return 1;
    Sdk& state = sdk();
    std::lock_guard<std::mutex> life(state.life);
    if (!state.worker.joinable())
        return 1;
    std::shared_ptr<CmdClient> client;
    std::shared_ptr<CommandLedger> ledger;
    {
        std::lock_guard<std::mutex> lock(state.clientMutex);
        client.swap(state.client);
        ledger.swap(state.ledger);
    }
    state.stopping.store(true);
    client->call(shutdownWorker, false);
    // The worker also stops on seeing this connection close, should the command be lost.
    client->shutdown();
    stopWorkerThread(state);
    // Commands still in the pipe never ran: their callers return failure.
    ledger->cancelOutstanding();
    return 0;
}

PELZO_API int64_t pelzo_current_time_ms(void) {
    return lumo::currentTimeMs();
}

PELZO_API pelzo_ctx* pelzo_ctx_create(void) {
    return waitedResult<pelzo_ctx*>(__func__, nullptr,
                                    [] { return Registry::instance().createContext(); });
}

PELZO_API void pelzo_ctx_destroy(pelzo_ctx* ctx) {
    runOnWorker(
        __func__,
        [ctx] {
            Registry& registry = Registry::instance();
            if (pelzo_ctx_imp* context = registry.findContext(ctx))
                registry.destroyContext(context);
        },
        false);
}

PELZO_API int pelzo_ctx_add_dev(pelzo_ctx* ctx, const char* address, const char* password) {
    if (!address)
        return 1;
    const std::string ip = address;
    const std::string pwd = textOrEmpty(password);
    return onContext(__func__, ctx, [&](pelzo_ctx_imp& c) { return c.addDevice(ip, pwd); });
}

PELZO_API int pelzo_ctx_del_dev(pelzo_ctx* ctx, const char* address) {
    if (!address)
        return 1;
    const std::string ip = address;
    return onContext(__func__, ctx, [&](pelzo_ctx_imp& c) { return c.removeDevice(ip); });
}

PELZO_API int pelzo_ctx_set_capture_dev(pelzo_ctx* ctx, const char* address, const char* password) {
    if (!address)
        return 1;
    const std::string ip = address;
    const std::string pwd = textOrEmpty(password);
    return onContext(__func__, ctx, [&](pelzo_ctx_imp& c) { return c.setCaptureDevice(ip, pwd); });
}

PELZO_API int pelzo_ctx_start_capture(pelzo_ctx* ctx, int sample_rate) {
    return onContext(__func__, ctx, [=](pelzo_ctx_imp& c) { return c.startCapture(sample_rate); });
}

PELZO_API void pelzo_ctx_stop_capture(pelzo_ctx* ctx) {
    onContextVoid(__func__, ctx, [](pelzo_ctx_imp& c) { c.stopCapture(); });
}

PELZO_API void pelzo_ctx_set_ai_volume(pelzo_ctx* ctx, int volume) {
    onContextVoid(__func__, ctx, [=](pelzo_ctx_imp& c) { c.setInputVolume(volume); });
}

PELZO_API void pelzo_ctx_set_ao_volume(pelzo_ctx* ctx, const char* address, int volume) {
    if (!address)
        return;
    const std::string ip = address;
    onContextVoid(__func__, ctx, [&](pelzo_ctx_imp& c) { c.setOutputVolume(ip, volume); });
}

PELZO_API void pelzo_ctx_set_ao_volume_all(pelzo_ctx* ctx, int volume) {
    onContextVoid(__func__, ctx, [=](pelzo_ctx_imp& c) { c.setOutputVolumeAll(volume); });
}

PELZO_API int pelzo_ctx_set_bitrate(pelzo_ctx* ctx, int bits_per_second) {
    return onContext(__func__, ctx,
                     [=](pelzo_ctx_imp& c) { return c.setBitrate(bits_per_second); });
}

PELZO_API int pelzo_ctx_set_jitter_size(pelzo_ctx* ctx, int jitter1, int jitter2) {
    return onContext(__func__, ctx,
                     [=](pelzo_ctx_imp& c) { return c.setJitter(jitter1, jitter2); });
}

PELZO_API int pelzo_ctx_set_pack_size(pelzo_ctx* ctx, int frames) {
    return onContext(__func__, ctx, [=](pelzo_ctx_imp& c) { return c.setPackSize(frames); });
}

PELZO_API int pelzo_ctx_set_priority(pelzo_ctx* ctx, int priority) {
    return onContext(__func__, ctx, [=](pelzo_ctx_imp& c) { return c.setPriority(priority); });
}

PELZO_API void pelzo_ctx_play_frame(pelzo_ctx* ctx, const char* pcm, int length) {
    if (!pcm || length <= 0)
        return;
    // Copied here: the caller may reuse its buffer as soon as this returns.
    runOnWorker(
        __func__,
        [ctx, frame = std::string(pcm, static_cast<std::size_t>(length))] {
            if (pelzo_ctx_imp* context = Registry::instance().findContext(ctx))
                context->playFrame(frame.data(), static_cast<int>(frame.size()));
        },
        false);
}

PELZO_API void pelzo_ctx_connect_src(pelzo_ctx* ctx, pelzo_src* src) {
    onContextVoid(__func__, ctx, [src](pelzo_ctx_imp& c) {
        // An unknown source leaves the context connected to nothing.
        c.connectSource(Registry::instance().findSource(src));
    });
}

PELZO_API void pelzo_ctx_disconnect_src(pelzo_ctx* ctx) {
    onContextVoid(__func__, ctx, [](pelzo_ctx_imp& c) { c.disconnectSource(); });
}

PELZO_API pelzo_src* pelzo_src_create(void) {
    return waitedResult<pelzo_src*>(__func__, nullptr,
                                    [] { return Registry::instance().createSource(); });
}

PELZO_API void pelzo_src_destroy(pelzo_src* src) {
    onSource(__func__, src, [](pelzo_src_imp& s) {
        Registry::instance().destroySource(&s);
        return 0;
    });
}

PELZO_API int pelzo_src_open_url(pelzo_src* src, const char* url) {
    if (!url)
        return 1;
    const std::string name = url;
    return onSource(__func__, src, [&](pelzo_src_imp& s) { return s.openUrl(name); });
}

PELZO_API void pelzo_src_set_loop(pelzo_src* src, bool loop) {
    onSource(__func__, src, [=](pelzo_src_imp& s) {
        s.setLoop(loop);
        return 0;
    });
}

PELZO_API int pelzo_start_rest_server(const char* address, int port) {
    if (!address)
        return 1;
    const std::string host = address;
    return waitedResult(__func__, 1, [&] {
        Sdk& state = sdk();
        if (!state.restView)
            state.restView = std::make_unique<internal::RestView>();
        return state.restView->start(host, port);
    });
}

} // extern "C"
