#include "qtapp.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

// Destroys the application after the last test, while main() still runs, so that
// Qt and the font libraries it loaded release what they hold.
class QtAppEnvironment : public ::testing::Environment {
public:
    explicit QtAppEnvironment(QApplication** app) : app_(app) {}
    void TearDown() override {
        delete *app_;
        *app_ = nullptr;
    }

private:
    QApplication** app_;
};

} // namespace

QApplication* ensureQtApp() {
    static int argc = 1;
    static char name[] = "tesmo-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = nullptr;
    if (!app) {
        app = new QApplication(argc, argv);
        ::testing::AddGlobalTestEnvironment(new QtAppEnvironment(&app));
    }
    return app;
}

// Leaks inside system libraries that the test programs cannot free: the offscreen
// platform plugin's screen and fontconfig's caches. Read by LeakSanitizer in
// sanitizer builds; unused otherwise.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\n"
           "leak:libfontconfig.so\n";
}
