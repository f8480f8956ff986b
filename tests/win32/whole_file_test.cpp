// Whole-file writes replace their target only when every byte got there;
// reads tell a folder or a read error from an empty file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/whole_file.h"
#include "tests/support/file_size_limit.h"

namespace fs = std::filesystem;

namespace {

class WholeFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vintrel-whole-file-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const char* name) const { return (dir / name).string(); }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    // Names in the folder, to see that no temporary stayed behind.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
};

TEST_F(WholeFile, ReplacesTheTargetAndLeavesNothingElse) {
    const std::string target = Path("out.bin");
    std::string error;
    ASSERT_TRUE(WriteWholeFile(target, "first", 5, &error)) << error;
    ASSERT_TRUE(WriteWholeFile(target, "second", 6, &error)) << error;
    EXPECT_EQ(Contents(target), "second");
    ASSERT_TRUE(WriteWholeFile(target, "", 0, &error)) << error;
    EXPECT_EQ(Contents(target), "");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.bin"});

    // Through a link the linked file changes and the link stays.
    fs::create_symlink(target, Path("link"));
    ASSERT_TRUE(WriteWholeFile(Path("link"), "linked", 6, &error)) << error;
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(Contents(target), "linked");
    EXPECT_EQ(Names(), (std::vector<std::string>{"link", "out.bin"}));
}

TEST_F(WholeFile, FailedWritesKeepTheTargetAsItWas) {
    const std::string target = Path("out.bin");
    std::ofstream(target) << "old";
    std::string error;
    // Written in pieces larger than the size limit: a write fails part way,
    // as on a full disk.
    const std::string big(64 * 1024, 'x');
    EXPECT_EXIT(
        {
            LimitFileSize(4096);
            std::string reason;
            const bool ok = WriteWholeFile(target, big.data(), big.size(), &reason);
            std::fprintf(stderr, "result=%d %s\n", ok, reason.c_str());
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(1), "result=0 File too large");
    EXPECT_EQ(Contents(target), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.bin"});

    // The same through the stream, failing only when it is flushed at the
    // end.
    EXPECT_EXIT(
        {
            LimitFileSize(2);
            OutputFile file(target);
            std::fputs("new", file.Stream());
            std::exit(file.Commit() ? 0 : 1);
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(Contents(target), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.bin"});

    // A stream dropped without Commit leaves nothing.
    {
        OutputFile file(target);
        ASSERT_NE(file.Stream(), nullptr) << file.Error();
        std::fputs("abandoned", file.Stream());
    }
    EXPECT_EQ(Contents(target), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.bin"});

    // A folder as the target, or a target in a missing folder.
    fs::create_directory(Path("folder"));
    EXPECT_FALSE(WriteWholeFile(Path("folder"), "x", 1, &error));
    EXPECT_EQ(error, "Is a directory");
    EXPECT_TRUE(fs::is_directory(Path("folder")));
    EXPECT_TRUE(fs::is_empty(Path("folder")));
    EXPECT_FALSE(WriteWholeFile(Path("none/out.bin"), "x", 1, &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "out.bin"}));
}

TEST_F(WholeFile, DevicesAreWrittenInPlace) {
    // Never replaced by a regular file, and their write errors still count.
    std::string error;
    EXPECT_TRUE(WriteWholeFile("/dev/null", "x", 1, &error)) << error;
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_FALSE(WriteWholeFile("/dev/full", "x", 1, &error));
        EXPECT_EQ(error, "No space left on device");
        ASSERT_EQ(stat("/dev/full", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
}

TEST_F(WholeFile, ReadsTellFailuresFromEmptyFiles) {
    constexpr std::size_t kLimit = 1 << 20;
    std::string bytes = "stale", error;
    std::ofstream(Path("empty"));
    EXPECT_TRUE(ReadWholeFile(Path("empty"), &bytes, &error, kLimit));
    EXPECT_EQ(bytes, "");
    const std::string big(200000, 'b');
    std::ofstream(Path("big"), std::ios::binary) << big;
    EXPECT_TRUE(ReadWholeFile(Path("big"), &bytes, &error, kLimit));
    EXPECT_EQ(bytes, big);
    EXPECT_FALSE(ReadWholeFile(dir.string(), &bytes, &error, kLimit));
    EXPECT_EQ(error, "Is a directory");
    EXPECT_FALSE(ReadWholeFile(Path("missing"), &bytes, &error, kLimit));
    EXPECT_EQ(error, "No such file or directory");
}

TEST_F(WholeFile, ReadsStopAtTheirLimit) {
    std::string bytes, error;
    const std::string big(200000, 'b');
    std::ofstream(Path("big"), std::ios::binary) << big;
    EXPECT_TRUE(ReadWholeFile(Path("big"), &bytes, &error, big.size()));
    EXPECT_EQ(bytes, big);
    // One byte over is refused, never cut short to fit.
    EXPECT_FALSE(ReadWholeFile(Path("big"), &bytes, &error, big.size() - 1));
    EXPECT_EQ(error, "larger than 199999 bytes");
    EXPECT_EQ(bytes, "");
    // A device that never ends.
    EXPECT_FALSE(ReadWholeFile("/dev/zero", &bytes, &error, 1 << 20));
    EXPECT_EQ(error, "larger than 1048576 bytes");
}

}  // namespace
