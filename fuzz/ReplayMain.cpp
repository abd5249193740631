// Runs a fuzz target's entry point (LLVMFuzzerTestOneInput) over files, without
// libFuzzer: the regression corpus of a target replayed in the test builds
// (release and sanitizers), where a finding that came back is a crash or a
// sanitizer report. Arguments: files or folders (every regular file in a
// folder, in name order). With none given, or folders without files, the
// target still runs once on an empty input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path given(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(given, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(given)) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
        } else if (std::filesystem::is_regular_file(given, error)) {
            files.push_back(given);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    LLVMFuzzerTestOneInput(nullptr, 0);
    for (const std::filesystem::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::printf("%s (%zu bytes)\n", file.filename().c_str(), bytes.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
