// The fuzz targets without libFuzzer: runs each input of the corpus folders and files named on
// the command line through the target once, as the fuzzer would. The test suite replays every
// corpus this way, in the ordinary and the sanitizer builds; fuzzing itself needs the clang
// build (WG_FUZZ).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path path = argv[i];
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else {
      inputs.push_back(path);
    }
  }
  if (inputs.empty()) {
    fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
    return 2;
  }
  for (const auto& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    printf("%s\n", input.filename().c_str());
    fflush(stdout);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
