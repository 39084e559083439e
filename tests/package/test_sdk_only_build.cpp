// The tree without the program: configured with TESMO_BUILD_APP=OFF while Qt is hidden
// from CMake, so any folder that still reaches for Qt (a find_package, a Qt5:: target, a
// program library) fails here. The tree builds, its tests are the Qt-free ones, and one
// of them runs. The folder lies beside this build tree, so that the compile commands
// are this tree's and ccache serves most objects.
#include "command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

using command::env;
using command::quote;
using command::run;

// The last lines of a long output, where a build says what went wrong.
std::string tail(const std::string& text, size_t chars = 6000) {
    return text.size() > chars ? "..." + text.substr(text.size() - chars) : text;
}

// "<this build folder>-sdk-only" beside this build tree, emptied before and removed
// after. A fixed name keeps the paths that compile definitions carry the same from run
// to run, so those objects come from ccache too.
struct SiblingDir {
    SiblingDir() : path(env("TESMO_BINARY_DIR") + "-sdk-only") {
        std::error_code ec;
        fs::remove_all(path, ec);
        fs::create_directories(path, ec);
        if (ec)
            path.clear();
    }
    ~SiblingDir() {
        std::error_code ec;
        if (!path.empty())
            fs::remove_all(path, ec);
    }
    std::string path;
};

TEST(SdkOnlyBuild, ConfiguresBuildsAndTestsWithoutQt) {
    SiblingDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::string out;
    const std::string configure =
        quote(CMAKE_COMMAND_PATH) + " -S " + quote(env("TESMO_SOURCE_DIR")) + " -B " +
        quote(dir.path) + " -G " + quote(GENERATOR) +
        " -DCMAKE_BUILD_TYPE=" BUILD_TYPE " -DCMAKE_C_COMPILER=" + quote(C_COMPILER) +
        " -DCMAKE_CXX_COMPILER=" + quote(CXX_COMPILER) +
        " -DTESMO_WERROR=" WERROR " -DTESMO_BUILD_APP=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt5=ON";
    ASSERT_EQ(run(configure, &out), 0) << configure << "\n" << tail(out);

    ASSERT_EQ(run(quote(CMAKE_COMMAND_PATH) + " --build " + quote(dir.path) + " -j 2", &out), 0)
        << tail(out);
    // What an integrator gets, and nothing of the program.
    for (const char* file :
         {"src/vo_pelzo_sdk_core/libvoPelzoSdk.so.1", "tools/pelzo-play/pelzo-play",
          "tools/terminal-sim/terminal-sim", "tests/sdk/test_sdk_api"})
        EXPECT_TRUE(fs::exists(fs::path(dir.path) / file)) << file;
    EXPECT_FALSE(fs::exists(fs::path(dir.path) / "app"));
    // No link line of any generator names a Qt library.
    std::string linked;
    run("grep -rls --include=build.ninja --include=link.txt libQt5 " + quote(dir.path), &linked);
    EXPECT_EQ(linked, "");

    ASSERT_EQ(run("cd " + quote(dir.path) + " && " + quote(CTEST_COMMAND_PATH) + " -N", &out), 0);
    EXPECT_NE(out.find("test_sdk_api"), std::string::npos) << out;
    EXPECT_NE(out.find("json_test"), std::string::npos) << out;
    for (const char* qtTest : {"shell_", "test_devicesmodel", "rest_test", "test_packages"})
        EXPECT_EQ(out.find(qtTest), std::string::npos) << qtTest << "\n" << out;
    EXPECT_EQ(run("cd " + quote(dir.path) + " && " + quote(CTEST_COMMAND_PATH) +
                      " -R '^(json_test|pelzo_wire_test)$' --output-on-failure",
                  &out),
              0)
        << out;
}

} // namespace
