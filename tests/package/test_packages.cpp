// The Debian packages as a user receives them: made by CPack from this build tree into
// a temporary folder, checked by lintian and dpkg-deb, unpacked with dpkg-deb -x into a
// temporary root and used from there. The programs run in a private network namespace
// (their servers and the simulated terminal cannot meet anything else).
#include "audio_fixtures.h"
#include "command.h"
#include "netns.h"
#include "pelzo_terminal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using command::env;
using command::quote;
using command::run;

const bool gPrivateNetwork = netns::enterLoopbackOnly();

const std::string kVersion = TESMO_VERSION;
const std::string kSdkPackage = SDK_PACKAGE;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Packages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new audio_fixtures::TempDir;
        const std::string out = dir_->file("out");
        root_ = dir_->file("root");
        fs::create_directories(root_);
        status_ = run("cd " + quote(env("TESMO_BINARY_DIR")) +
                          " && cpack --config CPackConfig.cmake -B " + quote(out),
                      &log_);
        if (status_ != 0)
            return;
        for (const auto& entry : fs::directory_iterator(out))
            if (entry.path().extension() == ".deb")
                debs_[packageName(entry.path())] = entry.path().string();
        for (const auto& [name, deb] : debs_) {
            std::string text;
            if (run("dpkg-deb -x " + quote(deb) + " " + quote(root_), &text) != 0) {
                status_ = 1;
                log_ += text;
            }
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_EQ(status_, 0) << log_; }

    static std::string packageName(const fs::path& deb) {
        std::string name;
        run("dpkg-deb -f " + quote(deb.string()) + " Package", &name);
        name.erase(name.find_last_not_of("\n") + 1);
        return name;
    }
    static std::string field(const std::string& package, const std::string& name) {
        std::string value;
        run("dpkg-deb -f " + quote(debs_.at(package)) + " " + name, &value);
        value.erase(value.find_last_not_of("\n") + 1);
        return value;
    }
    // Every package file, quoted, each after a blank.
    static std::string allDebs() {
        std::string files;
        for (const auto& [name, deb] : debs_)
            files += " " + quote(deb);
        return files;
    }
    static std::string libDir() { return root_ + "/usr/" + INSTALL_LIBDIR; }
    // The environment of a program run from the unpacked root: its library, and a
    // private home so it meets no settings, logs or local sockets of a real session.
    static std::string programEnv() {
        const std::string home = dir_->file("home");
        for (const char* sub : {"", "/config", "/data", "/tmp", "/runtime"})
            fs::create_directories(home + sub);
        ::chmod((home + "/runtime").c_str(), 0700);
        return "LD_LIBRARY_PATH=" + libDir() + " HOME=" + home + " XDG_CONFIG_HOME=" + home +
               "/config XDG_DATA_HOME=" + home + "/data TMPDIR=" + home +
               "/tmp XDG_RUNTIME_DIR=" + home + "/runtime QT_QPA_PLATFORM=offscreen";
    }

    static audio_fixtures::TempDir* dir_;
    static std::string root_;
    static std::map<std::string, std::string> debs_;
    static int status_;
    static std::string log_;
};

audio_fixtures::TempDir* Packages::dir_ = nullptr;
std::string Packages::root_;
std::map<std::string, std::string> Packages::debs_;
int Packages::status_ = -1;
std::string Packages::log_;

TEST_F(Packages, EachPackageHoldsItsFilesAndNoFileIsInTwo) {
    ASSERT_EQ(debs_.size(), 3u) << log_;
    const std::string lib = std::string("./usr/") + INSTALL_LIBDIR + "/";
    const std::map<std::string, std::vector<std::string>> expected = {
        {"tesmo-man",
         {"./usr/bin/tesmo-man", "./usr/bin/pelzo-play",
          "./usr/share/tesmo-man/translations/tesmo-man-zh_CN.qm",
          "./usr/share/tesmo-man/translations/tesmo-man-en_US.qm",
          "./usr/share/tesmo-man/translations/tesmo-man-kr.qm",
          "./usr/share/applications/tesmo-man.desktop",
          "./usr/share/icons/hicolor/48x48/apps/tesmo-man.png",
          "./usr/share/icons/hicolor/scalable/apps/tesmo-man.svg",
          "./usr/share/man/man1/tesmo-man.1.gz", "./usr/share/man/man1/pelzo-play.1.gz",
          "./usr/share/doc/tesmo-man/copyright"}},
        {kSdkPackage,
         {lib + "libvoPelzoSdk.so.1", lib + "libvoPelzoSdk.so.1.0.0",
          "./usr/share/doc/" + kSdkPackage + "/copyright"}},
        {"libvopelzosdk-dev",
         {"./usr/include/pelzo/pelzo_sdk.h", "./usr/include/pelzo/pelzo_src.h",
          lib + "libvoPelzoSdk.so", lib + "pkgconfig/voPelzoSdk.pc",
          lib + "cmake/voPelzoSdk/voPelzoSdkConfig.cmake",
          "./usr/share/doc/libvopelzosdk-dev/copyright"}},
    };
    std::map<std::string, std::string> owner;
    for (const auto& [package, files] : expected) {
        ASSERT_EQ(debs_.count(package), 1u) << package;
        std::string listing;
        ASSERT_EQ(run("dpkg-deb -c " + quote(debs_.at(package)) + " | awk '{print $6}'", &listing),
                  0);
        std::set<std::string> listed;
        std::istringstream in(listing);
        for (std::string path; std::getline(in, path);) {
            listed.insert(path);
            // dpkg refuses to install two packages that ship one file.
            if (path.back() != '/') {
                EXPECT_EQ(owner.count(path), 0u)
                    << path << " in " << package << " and " << owner[path];
                owner[path] = package;
            }
        }
        for (const std::string& file : files)
            EXPECT_EQ(listed.count(file), 1u) << package << " lacks " << file;
    }
    // The run-time package holds nothing to build with.
    EXPECT_EQ(owner[lib + "libvoPelzoSdk.so"], "libvopelzosdk-dev");
}

TEST_F(Packages, ControlDataCarriesTheComputedDependencies) {
    std::string info;
    ASSERT_EQ(run("dpkg-deb -I " + quote(debs_.at(kSdkPackage)), &info), 0);
    // dpkg-shlibdeps found the libraries the SDK links.
    for (const char* dep : {"libc6 (", "libopus0 (", "libavformat", "libavcodec", "libswresample"})
        EXPECT_TRUE(contains(field(kSdkPackage, "Depends"), dep)) << dep << "\n" << info;
    EXPECT_TRUE(contains(info, " shlibs")) << info;
    EXPECT_TRUE(contains(info, " triggers")) << info;
    std::string shlibs;
    ASSERT_EQ(run("dpkg-deb --ctrl-tarfile " + quote(debs_.at(kSdkPackage)) +
                      " | tar -xO ./shlibs ./triggers",
                  &shlibs),
              0);
    EXPECT_TRUE(contains(shlibs, "libvoPelzoSdk 1 " + kSdkPackage + " (>= " + kVersion + ")"))
        << shlibs;
    EXPECT_TRUE(contains(shlibs, "activate-noawait ldconfig")) << shlibs;

    const std::string onSdk = kSdkPackage + " (= " + kVersion + ")";
    const std::string manDepends = field("tesmo-man", "Depends");
    for (const std::string& dep : {onSdk, std::string("libqt5widgets5"),
                                   std::string("libqt5network5"), std::string("libc6")})
        EXPECT_TRUE(contains(manDepends, dep)) << dep << " not in " << manDepends;
    EXPECT_TRUE(contains(field("libvopelzosdk-dev", "Depends"), onSdk));

    const struct {
        const char* package;
        const char* section;
    } sections[] = {{"tesmo-man", "net"}, {"libvopelzosdk-dev", "libdevel"}};
    for (const auto& s : sections) {
        EXPECT_EQ(field(s.package, "Section"), s.section) << s.package;
        EXPECT_EQ(field(s.package, "Priority"), "optional") << s.package;
        EXPECT_EQ(field(s.package, "Version"), kVersion) << s.package;
        EXPECT_FALSE(contains(field(s.package, "Description"), "built using CMake"));
    }
    EXPECT_EQ(field(kSdkPackage, "Section"), "libs");
}

// apt can install the three together on this system: every dependency names a real
// package in a version it has (simulated, nothing changes).
TEST_F(Packages, AptWouldInstallThemTogether) {
    std::string out;
    EXPECT_EQ(run("apt-get install --simulate --no-install-recommends" + allDebs(), &out), 0)
        << out;
    for (const auto& [name, deb] : debs_)
        EXPECT_TRUE(contains(out, "Conf " + name + " (" + kVersion)) << name << "\n" << out;
}

TEST_F(Packages, LintianFindsNoErrors) {
    std::string out;
    EXPECT_EQ(run("lintian --fail-on error" + allDebs(), &out), 0) << out;
    EXPECT_FALSE(contains(out, "\nE: ") || out.rfind("E: ", 0) == 0) << out;
}

TEST_F(Packages, UnpackedProgramPrintsItsVersion) {
    std::string out;
    ASSERT_EQ(run("env " + programEnv() + " " + quote(root_ + "/usr/bin/tesmo-man") + " -v", &out),
              0)
        << out;
    EXPECT_EQ(out, kVersion + "\n");
}

// The command-line program ships in the tesmo-man package with its man page.
TEST_F(Packages, UnpackedCommandLineProgramAnswersHelp) {
#ifndef HAVE_TESMO_CLI
    GTEST_SKIP() << "tesmo-cli is not part of this tree";
#endif
    for (const char* file : {"/usr/bin/tesmo-cli", "/usr/share/man/man1/tesmo-cli.1.gz"})
        EXPECT_TRUE(fs::exists(root_ + file)) << file;
    std::string out;
    EXPECT_EQ(
        run("env " + programEnv() + " " + quote(root_ + "/usr/bin/tesmo-cli") + " --help", &out), 0)
        << out;
    EXPECT_TRUE(contains(out, "tesmo-cli")) << out;
}

// Nothing beside the unpacked executable: the translations come from the tree's data
// folder, and the log goes to the user's data folder, never into bin.
TEST_F(Packages, UnpackedProgramFindsItsTranslationsAndLogsIntoTheUsersFolder) {
    netns::Child program;
    std::string why;
    std::vector<std::string> argv = {"/usr/bin/env"};
    std::istringstream vars(programEnv());
    for (std::string v; vars >> v;)
        argv.push_back(v);
    argv.push_back(root_ + "/usr/bin/tesmo-man");
    ASSERT_TRUE(program.start(argv, &why)) << why;
    std::string line;
    ASSERT_TRUE(program.waitForLine("filename: ", 30000, &line));
    const std::string logFile = line.substr(std::string("filename: ").size());
    EXPECT_EQ(logFile.rfind(dir_->file("home") + "/data/Vostrel/tesmo-man/logs/tesmo-man-", 0), 0u)
        << logFile;

    // Bounded wait for the line, not a measurement.
    std::string log;
    for (int i = 0; i < 600 && !contains(log, "tesmo-man-zh_CN.qm "); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        log = readFile(logFile);
    }
    program.stop();
    EXPECT_TRUE(contains(log, "tesmo-man-zh_CN.qm loaded")) << log;
    EXPECT_FALSE(fs::exists(root_ + "/usr/bin/logs"));
}

// An outside C program, built with nothing but what pkg-config reports for the
// unpacked -dev package, streams a file to a simulated terminal; so does the packaged
// player.
TEST_F(Packages, OutsideProgramBuiltWithPkgConfigStreamsToATerminal) {
    const std::string pc =
        "PKG_CONFIG_PATH=" + quote(libDir() + "/pkgconfig") + " PKG_CONFIG_LIBDIR=/nonexistent ";
    std::string flags;
    ASSERT_EQ(run(pc + "pkg-config --cflags --libs voPelzoSdk", &flags), 0) << flags;
    flags.erase(flags.find_last_not_of(" \n") + 1);
    // The flags point into the unpacked tree (the .pc file finds its prefix from its own place).
    std::istringstream words(flags);
    std::map<std::string, std::string> dirs;
    for (std::string w; words >> w;)
        if (w.size() > 2 && (w.compare(0, 2, "-I") == 0 || w.compare(0, 2, "-L") == 0))
            dirs[w.substr(0, 2)] = fs::weakly_canonical(w.substr(2)).string();
    EXPECT_EQ(dirs["-I"], root_ + "/usr/include") << flags;
    EXPECT_EQ(dirs["-L"], libDir()) << flags;

    const std::string source = dir_->file("outside.c");
    std::ofstream(source) << R"(#define _POSIX_C_SOURCE 200809L
#include <pelzo/pelzo_sdk.h>
#include <stdatomic.h>
#include <stdio.h>
#include <time.h>

static atomic_int done;
static void onEnd(pelzo_src* src) { (void)src; atomic_store(&done, 1); }
static void onError(pelzo_src* src, const char* text) {
    (void)src;
    printf("error %s\n", text);
    atomic_store(&done, 2);
}

int main(int argc, char** argv) {
    if (argc != 3 || pelzo_init() != 0) return 2;
    pelzo_ctx* ctx = pelzo_ctx_create();
    pelzo_src* src = pelzo_src_create();
    if (!ctx || !src || pelzo_ctx_add_dev(ctx, argv[2], NULL) != 0) return 3;
    src->on_end = onEnd;
    src->on_error = onError;
    pelzo_ctx_connect_src(ctx, src);
    if (pelzo_src_open_url(src, argv[1]) != 0) return 4;
    const struct timespec tick = {0, 20 * 1000 * 1000};
    for (int i = 0; i < 1500 && !atomic_load(&done); ++i) nanosleep(&tick, NULL);
    pelzo_src_destroy(src);
    pelzo_ctx_destroy(ctx);
    pelzo_deinit();
    printf("done %d\n", atomic_load(&done));
    return atomic_load(&done) == 1 ? 0 : 1;
}
)";
    const std::string program = dir_->file("outside");
    std::string out;
    const std::string compile = "cc -std=c11 -Wall -Wextra -Werror " + quote(source) + " " + flags +
                                " -o " + quote(program);
    ASSERT_EQ(run(compile, &out), 0) << compile << "\n" << out;

    const std::string wav = dir_->file("tone.wav");
    ASSERT_TRUE(audio_fixtures::writeSineWav(wav, 48000, 1, 0.5, 440));
    const struct {
        const char* name;
        std::string command;
        const char* expected;
    } players[] = {
        {"outside program", quote(program), "done 1\n"},
        {"packaged pelzo-play", quote(root_ + "/usr/bin/pelzo-play"), "played 0.50 s"},
    };
    for (const auto& p : players) {
        simpelzo::TerminalConfig config;
        static int nextTerminal = 0;
        config.address = netns::loopbackAddress(nextTerminal++, gPrivateNetwork, 1);
        simpelzo::Terminal sim(config);
        std::string error;
        ASSERT_TRUE(sim.open(error)) << error;
        simpelzo::TerminalRunner runner({&sim});
        ASSERT_EQ(run("env LD_LIBRARY_PATH=" + quote(libDir()) + " " + p.command + " " +
                          quote(wav) + " " + config.address,
                      &out),
                  0)
            << p.name << "\n"
            << out;
        EXPECT_TRUE(contains(out, p.expected)) << p.name << "\n" << out;
        EXPECT_TRUE(sim.waitFor([](const simpelzo::TerminalState& s) {
            return s.audioPackets >= 20;
        })) << p.name
            << ": " << sim.state().audioPackets;
    }
}

} // namespace
