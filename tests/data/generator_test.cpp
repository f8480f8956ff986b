// The generator as the build runs it: the same bytes on every run, in good
// time, and clear failures.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/data/data_support.h"

using namespace datatest;
namespace fs = std::filesystem;

namespace {
// The time budget is the optimised build's; sanitizers and debug code
// measure themselves.
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
constexpr bool kTimed = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kTimed = false;
#else
constexpr bool kTimed = true;
#endif
#else
constexpr bool kTimed = true;
#endif

const std::string kGenerator = std::string(VINTREL_BINARY_DIR) + "/bin/vintrel-make-assets";

fs::path Scratch(const std::string& name) {
    fs::path p = fs::temp_directory_path() / ("vintrel-data-" + std::to_string(getpid())) / name;
    fs::remove_all(p);
    fs::create_directories(p.parent_path());
    return p;
}

std::string Quote(const std::string& s) {
    std::string q(1, '\'');
    q.append(s);
    q.push_back('\'');
    return q;
}

// Exit status of the generator with `args`, its output in `out`.
int RunGenerator(const std::string& args, std::string* out = nullptr) {
    const fs::path log = Scratch("log.txt");
    std::string command = Quote(kGenerator);
    command.append(" ").append(args).append(" > ").append(Quote(log.string())).append(" 2>&1");
    const int status = std::system(command.c_str());
    if (out) {
        std::ifstream in(log);
        *out = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DataGenerator, WritesTheSameBytesEveryRunInGoodTime) {
    const fs::path first = Scratch("first"), second = Scratch("second");
    std::string report;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunGenerator(Quote(first.string()) + " --map " + Quote((first / "map.png").string()), &report), 0) << report;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (kTimed) {
        EXPECT_LT(seconds, 20.0);
    }
    EXPECT_NE(report.find("triangles="), std::string::npos) << report;
    // The second run goes into a folder that already holds a file of its
    // own, which the report must not count as written.
    fs::create_directories(second / "notes");
    std::ofstream(second / "notes" / "mine.txt") << "not part of the data set";
    ASSERT_EQ(RunGenerator(Quote(second.string()), &report), 0) << report;
    fs::remove_all(second / "notes");

    // Everything the program reads, and all of it identical, also to the
    // data set the build made.
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(second)) {
        if (!entry.is_regular_file()) continue;
        const fs::path relative = fs::relative(entry.path(), second);
        SCOPED_TRACE(relative.string());
        const std::vector<uint8_t> bytes = ReadBytes(entry.path().string());
        EXPECT_FALSE(bytes.empty());
        EXPECT_TRUE(bytes == ReadBytes((first / relative).string()));
        EXPECT_TRUE(bytes == ReadBytes(DataPath(relative.string())));
        ++files;
    }
    for (const char* name : {"ct01.x", "car.x", "carveR.x", "carveL.x", "font.dds", "SpeedMeter.dds",
                             "media/eng2.wav", "media/Get_Closer.wav", "media/puffs.wav", "media/out.wav"})
        EXPECT_TRUE(fs::is_regular_file(second / name)) << name;
    EXPECT_GE(files, 27u);
    EXPECT_EQ(report.rfind("files=" + std::to_string(files) + " ", 0), 0u) << report;

    // The map is a picture of the whole course.
    const DecodedImage map = DecodeFile((first / "map.png").string());
    ASSERT_EQ(map.result, S_OK);
    EXPECT_GT(map.info.width, 500u);
    EXPECT_GT(map.info.height, 500u);
    fs::remove_all(first.parent_path());
}

TEST(DataGenerator, FailsClearlyAndHelps) {
    std::string out;
    EXPECT_EQ(RunGenerator("--help", &out), 0);
    EXPECT_NE(out.find("usage: vintrel-make-assets OUTDIR"), std::string::npos) << out;
    EXPECT_EQ(RunGenerator("", &out), 2);
    EXPECT_NE(out.find("usage:"), std::string::npos) << out;
    EXPECT_EQ(RunGenerator("--frobnicate x", &out), 2);
    EXPECT_EQ(RunGenerator("a b", &out), 2);
    EXPECT_EQ(RunGenerator("x --map", &out), 2);

    // A folder that cannot be made: a status of 1 and the reason.
    const fs::path blocker = Scratch("blocker");
    std::ofstream(blocker) << "a file, not a folder";
    EXPECT_EQ(RunGenerator(Quote((blocker / "out").string()), &out), 1);
    EXPECT_NE(out.find("cannot create"), std::string::npos) << out;
    fs::remove_all(blocker.parent_path());
}
}  // namespace
