// A fuzz target as a plain program: runs LLVMFuzzerTestOneInput once over
// every file in the folders (or files) named on the command line, in name
// order, so that the corpora and regression inputs replay in any build,
// without libFuzzer. Exits 0 when every input passed, 1 when there was
// nothing to replay, 2 for a missing path; a failing input aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputsUnder(const fs::path& path) {
    std::vector<fs::path> inputs;
    if (fs::is_directory(path)) {
        for (const auto& entry : fs::directory_iterator(path))
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
    } else if (fs::is_regular_file(path)) {
        inputs.push_back(path);
    }
    return inputs;
}

void replay(const fs::path& input) {
    std::fprintf(stderr, "replaying %s\n", input.c_str());
    std::ifstream file(input, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // An exact-size copy, so that a read one past the end is a heap overflow under ASan.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int a = 1; a < argc; ++a) {
        if (!fs::exists(argv[a])) {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[a]);
            return 2;
        }
        for (const fs::path& input : inputsUnder(argv[a])) {
            replay(input);
            ++count;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed\n", count);
    return count == 0 ? 1 : 0;
}
