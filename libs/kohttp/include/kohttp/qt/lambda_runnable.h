// Public header of kohttp_qt: a thread-pool task made of one callable.
#pragma once

#include <QRunnable>

#include <atomic>
#include <functional>
#include <utility>

namespace kohttp::qt {

// Owns the callable and runs it once; the pool deletes the task afterwards.
// The callable and what it captured are published to the pool thread through
// an atomic of our own, so race checkers see the hand-over (they cannot see
// the one inside QThreadPool).
class LambdaRunnable : public QRunnable {
public:
    explicit LambdaRunnable(std::function<void()> fn) : fn_(std::move(fn)) {
        setAutoDelete(true);
        published_.store(true, std::memory_order_release);
    }
    void run() override {
        if (!published_.load(std::memory_order_acquire)) {
            return;
        }
        std::function<void()> fn = std::move(fn_);
        fn_ = nullptr;
        if (fn) {
            fn();
        }
    }

private:
    std::function<void()> fn_;
    std::atomic<bool> published_{false};
};

} // namespace kohttp::qt
