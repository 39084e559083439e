// The library as a user receives it: installed into a temporary prefix (the run-time
// component and the development component, as the two Debian packages split it), found
// through pkg-config and the CMake package, with nothing but pelzo_ symbols exported. The
// player tool is built from its C source against the installed copy and streams a file
// to a simulated terminal.
#include "sdk_test_support.h"

#include "audio_fixtures.h"
#include "command.h"
#include "pelzo_terminal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

using command::env;
using command::run;

const bool gPrivateNetwork = netns::enterLoopbackOnly();

class SdkInstall : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new audio_fixtures::TempDir;
        prefix_ = dir_->file("prefix");
        std::string out;
        installStatus_ = 0;
        for (const char* component : {"sdk", "sdk-dev"}) {
            installStatus_ |= run(install(component, prefix_), &out);
            installLog_ += out;
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_EQ(installStatus_, 0) << installLog_; }

    static std::string install(const std::string& component, const std::string& prefix) {
        return "cmake --install '" + env("TESMO_BINARY_DIR") + "' --component " + component +
               " --prefix '" + prefix + "'";
    }
    // The configured library directory (multiarch on Debian: lib/x86_64-linux-gnu).
    static std::string libDir(const std::string& prefix = prefix_) {
        return (fs::path(prefix) / INSTALL_LIBDIR).string();
    }

    static audio_fixtures::TempDir* dir_;
    static std::string prefix_;
    static int installStatus_;
    static std::string installLog_;
};

audio_fixtures::TempDir* SdkInstall::dir_ = nullptr;
std::string SdkInstall::prefix_;
int SdkInstall::installStatus_ = -1;
std::string SdkInstall::installLog_;

TEST_F(SdkInstall, InstallsHeaderLibraryAndPackageFiles) {
    const fs::path lib = libDir();
    for (const fs::path& p :
         {fs::path(prefix_) / "include/pelzo/pelzo_sdk.h",
          fs::path(prefix_) / "include/pelzo/pelzo_src.h", lib / "libvoPelzoSdk.so",
          lib / "libvoPelzoSdk.so.1", lib / "pkgconfig/voPelzoSdk.pc",
          lib / "cmake/voPelzoSdk/voPelzoSdkConfig.cmake",
          lib / "cmake/voPelzoSdk/voPelzoSdkConfigVersion.cmake"})
        EXPECT_TRUE(fs::exists(p)) << p;
    // Nothing of the internals is installed.
    EXPECT_FALSE(fs::exists(fs::path(prefix_) / "include/vo_pelzo_sdk_core"));

    // The run-time component alone: the library a program loads, nothing to build with.
    const std::string runtime = dir_->file("runtime");
    std::string out;
    ASSERT_EQ(run(install("sdk", runtime), &out), 0) << out;
    EXPECT_TRUE(fs::exists(fs::path(libDir(runtime)) / "libvoPelzoSdk.so.1"));
    for (const fs::path& p :
         {fs::path(runtime) / "include", fs::path(libDir(runtime)) / "libvoPelzoSdk.so",
          fs::path(libDir(runtime)) / "pkgconfig", fs::path(libDir(runtime)) / "cmake"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(p))) << p;

    std::string soname;
    ASSERT_EQ(
        run("readelf -d '" + (lib / "libvoPelzoSdk.so").string() + "' | grep SONAME", &soname), 0);
    EXPECT_NE(soname.find("[libvoPelzoSdk.so.1]"), std::string::npos) << soname;

    // Exactly the 25 functions of the header leave the library.
    std::string symbols;
    ASSERT_EQ(run("nm -D --defined-only '" + (lib / "libvoPelzoSdk.so").string() +
                      "' | awk '$2 != \"A\" {print $3}'",
                  &symbols),
              0);
    std::istringstream in(symbols);
    std::string name;
    int count = 0;
    while (in >> name) {
        ++count;
        EXPECT_EQ(name.rfind("pelzo_", 0), 0u) << name;
    }
    EXPECT_EQ(count, 25) << symbols;
}

// pelzo-play, compiled by the C compiler from its source with the flags pkg-config gives
// for the installed library, plays a file to a simulated terminal.
TEST_F(SdkInstall, PlayerBuiltWithPkgConfigStreamsToATerminal) {
    const std::string pc = "PKG_CONFIG_PATH='" + libDir() + "/pkgconfig' pkg-config ";
    std::string flags;
    ASSERT_EQ(run(pc + "--cflags --libs voPelzoSdk", &flags), 0) << flags;
    flags.erase(flags.find_last_not_of(" \n") + 1);
    const std::string player = dir_->file("pelzo-play");
    std::string out;
    const std::string compile = "'" OUTSIDE_CC
                                "' -std=c11 -Wall -Wextra -Werror -pedantic " SANITIZE_FLAGS
                                " " SANITIZE_LINK_FLAGS " '" +
                                env("TESMO_SOURCE_DIR") + "/tools/pelzo-play/pelzo_play.c' " +
                                flags + " -Wl,-rpath,'" + libDir() + "' -o '" + player + "'";
    ASSERT_EQ(run(compile, &out), 0) << compile << "\n" << out;

    const std::string wav = dir_->file("tone.wav");
    ASSERT_TRUE(audio_fixtures::writeSineWav(wav, 48000, 1, 0.5, 440));
    simpelzo::TerminalConfig config;
    config.address = sdktest::nextAddress(gPrivateNetwork);
    simpelzo::Terminal sim(config);
    std::string error;
    ASSERT_TRUE(sim.open(error)) << error;
    simpelzo::TerminalRunner runner({&sim});

    ASSERT_EQ(run("'" + player + "' --volume 30 '" + wav + "' " + config.address, &out), 0) << out;
    EXPECT_NE(out.find("open\n"), std::string::npos) << out;
    EXPECT_NE(out.find("end\n"), std::string::npos) << out;
    EXPECT_NE(out.find("played 0.50 s"), std::string::npos) << out;
    EXPECT_TRUE(sim.waitFor([](const simpelzo::TerminalState& s) { return s.audioPackets >= 20; }))
        << sim.state().audioPackets;

    // Bad input gets a clear refusal and a failing status.
    EXPECT_EQ(run("'" + player + "' '" + wav + "' 127.0.0.300", &out), 2);
    EXPECT_NE(out.find("'127.0.0.300' is not an IPv4 address"), std::string::npos) << out;
    EXPECT_EQ(run("'" + player + "' '" + dir_->file("missing.wav") + "' " + config.address, &out),
              1);
    EXPECT_NE(out.find("cannot open"), std::string::npos) << out;
}

// A CMake project outside the tree finds the package and links its target.
TEST_F(SdkInstall, CMakePackageLinksFromOutside) {
    const fs::path source = dir_->file("outside");
    fs::create_directories(source);
    std::ofstream(source / "CMakeLists.txt") << "cmake_minimum_required(VERSION 3.16)\n"
                                                "project(outside CXX)\n"
                                                "find_package(voPelzoSdk 1.0 REQUIRED)\n"
                                                "add_executable(outside main.cpp)\n"
                                                "target_link_libraries(outside PRIVATE "
                                                "voPelzoSdk::voPelzoSdk)\n";
    std::ofstream(source / "main.cpp") << "#include <pelzo/pelzo_sdk.h>\n"
                                          "int main() {\n"
                                          "    if (pelzo_deinit() != 1) return 1;\n"
                                          "    if (pelzo_init() != 0) return 2;\n"
                                          "    pelzo_ctx* c = pelzo_ctx_create();\n"
                                          "    if (!c || pelzo_ctx_set_priority(c, 2)) return 3;\n"
                                          "    pelzo_ctx_destroy(c);\n"
                                          "    return pelzo_deinit();\n"
                                          "}\n";
    const std::string build = dir_->file("outside-build");
    std::string out;
    ASSERT_EQ(run("cmake -S '" + source.string() + "' -B '" + build + "' -DCMAKE_PREFIX_PATH='" +
                      prefix_ +
                      "' -DCMAKE_CXX_COMPILER='" OUTSIDE_CXX "' -DCMAKE_CXX_FLAGS='" SANITIZE_FLAGS
                      "' -DCMAKE_EXE_LINKER_FLAGS='" SANITIZE_FLAGS " " SANITIZE_LINK_FLAGS "'",
                  &out),
              0)
        << out;
    ASSERT_EQ(run("cmake --build '" + build + "'", &out), 0) << out;
    EXPECT_EQ(run("'" + build + "/outside'", &out), 0) << out;
}

} // namespace
