// Runs the page fuzzer's inputs (fuzz/FuzzPage.cpp) without the fuzzer: every
// file of the directories named, in name order. The inputs that once found a
// fault are kept in tests/hostile/corpus/page, so that every build, the
// sanitizer builds among them, prints them again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i]))
            continue; // no finding kept yet
        for (const auto &entry : std::filesystem::directory_iterator(argv[i]))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto &file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), {});
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    printf("%zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
