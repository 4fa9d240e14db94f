// Runs one fuzz target over every input kept in its corpus folder, so that whatever fuzzing once
// found stays fixed in every build, with any compiler and without libFuzzer. Paths given on the
// command line are run instead, to reproduce a single finding.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer calls the target by this name
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
        inputs.emplace_back(argv[i]);
    if (inputs.empty()) {
        for (const fs::directory_entry& entry : fs::directory_iterator(TOLLAVAR_FUZZ_CORPUS_DIR))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
    }
    if (inputs.empty()) {
        // An empty folder means a wrong path, not a passing corpus.
        std::cerr << "no inputs in " << TOLLAVAR_FUZZ_CORPUS_DIR << "\n";
        return 1;
    }
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::cerr << "cannot read " << path << "\n";
            return 1;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // A buffer of exactly the input's size, as libFuzzer passes it, so that a read past the end
        // is caught by the sanitizer build.
        const std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), data.get());
        std::cerr << "replaying " << path.filename().string() << "\n";
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    std::cout << inputs.size() << " inputs replayed\n";
    return 0;
}
