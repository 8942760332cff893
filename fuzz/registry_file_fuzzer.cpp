// The registry store's reader, fed any file a person or a program may have left: the values it
// reads must stay what they were when another value is written, and a written value must read
// back.
//
// Input: the whole content of the current user's store file.
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/registry_store.h"

namespace {

using platform::RegistryHive;

struct Place {
  const char* key;
  const char* name;
};
// The places the kit reads, and a few spellings the format allows.
constexpr Place kPlaces[] = {
    {"Software\\Kestrelon\\Setup", "WGServer"},
    {"Software\\Kestrelon\\Ventolog\\Filter Setup", "Where"},
    {"Software\\Kestrelon\\Ventolog\\Filter Setup", "Type"},
    {"Software\\Kestrelon\\Ventolog\\Options", ""},
    {"software\\kestrelon\\ventolog\\options", "LogFile"},
    {"Software\\\\Kestrelon\\Ventolog\\CommPortSettings\\", "Baud"},
    {"", "x"},
};

struct Reading {
  std::optional<std::string> text;
  std::optional<uint32_t> number;
  bool operator==(const Reading&) const = default;
};

Reading Read(const Place& place) {
  Reading reading;
  std::string text;
  uint32_t number = 0;
  if (platform::RegistryQueryText(RegistryHive::kCurrentUser, place.key, place.name, &text)) {
    reading.text = text;
  }
  if (platform::RegistryQueryNumber(RegistryHive::kCurrentUser, place.key, place.name, &number)) {
    reading.number = number;
  }
  return reading;
}

std::string g_storePath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzScratch("registry");
  g_storePath = platform::RegistryStorePath(RegistryHive::kCurrentUser);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream file(g_storePath, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  Reading before[std::size(kPlaces)];
  for (size_t i = 0; i < std::size(kPlaces); ++i) before[i] = Read(kPlaces[i]);

  // A value of a key none of the places name: writing it rewrites the whole file.
  const char* kKey = "Software\\Kestrelon\\Fuzz Written";
  FuzzCheck(
      platform::RegistrySetText(RegistryHive::kCurrentUser, kKey, "Text", "a \"quoted\" \\ text"),
      "text not written");
  FuzzCheck(platform::RegistrySetNumber(RegistryHive::kCurrentUser, kKey, "Number", 0x80000001u),
            "number not written");
  std::string text;
  uint32_t number = 0;
  FuzzCheck(platform::RegistryQueryText(RegistryHive::kCurrentUser, kKey, "text", &text) &&
                text == "a \"quoted\" \\ text",
            "written text does not read back");
  FuzzCheck(platform::RegistryQueryNumber(RegistryHive::kCurrentUser, kKey, "NUMBER", &number) &&
                number == 0x80000001u,
            "written number does not read back");
  for (size_t i = 0; i < std::size(kPlaces); ++i) {
    FuzzCheck(Read(kPlaces[i]) == before[i], "a value changed when another one was written");
  }
  // A value that is there is read, not replaced.
  for (size_t i = 0; i < std::size(kPlaces); ++i) {
    if (!before[i].number) continue;
    FuzzCheck(platform::RegistryReadNumberOrStore(RegistryHive::kCurrentUser, kPlaces[i].key,
                                                  kPlaces[i].name,
                                                  ~*before[i].number) == *before[i].number,
              "a stored number was not the one read");
  }
  return 0;
}
