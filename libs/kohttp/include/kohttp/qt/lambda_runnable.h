// Public header of kohttp_qt: a thread-pool task made of one callable.
#pragma once

#include <QRunnable>

#include <functional>
#include <utility>

namespace kohttp::qt {

// Owns the callable and runs it once; the pool deletes the task afterwards.
class LambdaRunnable : public QRunnable {
public:
    explicit LambdaRunnable(std::function<void()> fn) : fn_(std::move(fn)) { setAutoDelete(true); }
    void run() override {
        std::function<void()> fn = std::move(fn_);
        fn_ = nullptr;
        if (fn) {
            fn();
        }
    }

private:
    std::function<void()> fn_;
};

} // namespace kohttp::qt
