// What the fuzz targets share: a scratch folder of their own, and a reader that takes the
// fields of a fuzz input one after another (zero once the input is used up).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

// Stops the run with a message: libFuzzer keeps the input that got here.
[[noreturn]] inline void FuzzFailure(const char* what) {
  fprintf(stderr, "fuzz check failed: %s\n", what);
  abort();
}

inline void FuzzCheck(bool condition, const char* what) {
  if (!condition) FuzzFailure(what);
}

// Reads what a caller was handed as its user would, in a way the compiler cannot leave out:
// a byte that is not the caller's to read then shows up under AddressSanitizer.
inline volatile uint64_t g_fuzzSink;
inline void ReadAll(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint64_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum += bytes[i];
  g_fuzzSink = g_fuzzSink + sum;
}
inline void ReadText(const char* text) {
  g_fuzzSink = g_fuzzSink + strlen(text);
}

// /dev/shm/wg-fuzz-NAME-PID, holding this process's object directory and registry and store
// files (the variables every part of the kit reads), removed when the process exits normally.
inline std::string MakeFuzzScratch(const char* name) {
  static std::string folder;
  folder = "/dev/shm/wg-fuzz-" + std::string(name) + "-" + std::to_string(getpid());
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directories(folder);
  setenv("WHORLGATE_OBJECT_DIR", (folder + "/objects").c_str(), 1);
  setenv("WHORLGATE_MACHINE_REGISTRY", (folder + "/machine.reg").c_str(), 1);
  setenv("WHORLGATE_USER_REGISTRY", (folder + "/user.reg").c_str(), 1);
  setenv("WHORLGATE_SERVER_STORE", (folder + "/users.db").c_str(), 1);
  atexit([] {
    std::error_code error;
    std::filesystem::remove_all(folder, error);
  });
  return folder;
}

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  size_t left() const { return size_ - at_; }
  uint8_t u8() { return empty() ? 0 : data_[at_++]; }
  uint16_t u16() {
    uint8_t low = u8();
    return static_cast<uint16_t>(low | (u8() << 8));
  }
  uint32_t u32() {
    uint16_t low = u16();
    return low | (static_cast<uint32_t>(u16()) << 16);
  }
  // Up to `n` bytes (fewer at the end of the input).
  std::vector<uint8_t> bytes(size_t n) {
    n = n < left() ? n : left();
    std::vector<uint8_t> taken(data_ + at_, data_ + at_ + n);
    at_ += n;
    return taken;
  }
  // The rest of the input.
  std::vector<uint8_t> rest() { return bytes(left()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};
