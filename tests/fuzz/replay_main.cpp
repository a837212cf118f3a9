// Replays fuzz inputs without libFuzzer: each file named, or each file in a directory named, is one input.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replayFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::uint8_t> bytes(chars.begin(), chars.end());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        if (!std::filesystem::is_directory(path, error)) {
            if (!replayFile(path)) {
                return 1;
            }
            ++replayed;
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            if (entry.is_regular_file(error)) {
                if (!replayFile(entry.path())) {
                    return 1;
                }
                ++replayed;
            }
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s\n", path.string().c_str());
            return 1;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    // An empty corpus would make this test pass without checking anything.
    return replayed > 0 ? 0 : 1;
}
