// Runs a fuzz harness over files and folders of inputs, so its seed corpus
// serves as a regression test without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
bool RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A private copy of exactly the file's size, so a read past the end is
    // seen by the sanitizers.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    size_t runs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            // Stepped with error codes: a range-for's step throws on a
            // folder it may not enter, and would abort the run.
            std::vector<std::filesystem::path> files;
            std::filesystem::recursive_directory_iterator it(arg, ec), end;
            for (; !ec && it != end; it.increment(ec))
                if (it->is_regular_file(ec)) files.push_back(it->path());
            if (ec) {
                std::fprintf(stderr, "cannot list %s: %s\n", arg.c_str(), ec.message().c_str());
                ok = false;
            }
            std::sort(files.begin(), files.end());
            for (const auto& f : files) ok = RunFile(f) && ok, ++runs;
        } else {
            ok = RunFile(arg) && ok;
            ++runs;
        }
    }
    std::printf("ran %zu inputs\n", runs);
    return ok && runs > 0 ? 0 : 1;
}
