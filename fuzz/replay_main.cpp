// Runs a fuzz target over files or folders of inputs, for builds without
// libFuzzer: every committed corpus entry is replayed under ctest.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    long replayed = 0;
    auto run = [&](const fs::path &p) {
        std::ifstream f(p, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        replayed++;
    };
    for (int i = 1; i < argc; i++) {
        const fs::path arg(argv[i]);
        if (fs::is_directory(arg)) {
            for (const auto &entry : fs::directory_iterator(arg)) {
                if (entry.is_regular_file()) run(entry.path());
            }
        } else {
            run(arg);
        }
    }
    std::printf("replayed %ld inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
