#include "platform/module_version.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "shared/registry.h"
#include "tests/registry/files.h"
#include "tests/registry/test_modules.h"
#include "tests/support/isolation.h"

namespace {

constexpr char kFileVersion[] = "\\StringFileInfo\\040904b0\\FileVersion";
constexpr char kFileDescription[] = "\\StringFileInfo\\040904b0\\FileDescription";

std::optional<std::string> VersionValue(const std::string& path, const char* query) {
  std::string value;
  if (!platform::ReadModuleVersionValue(path, query, &value)) return std::nullopt;
  return value;
}

std::string VersionText(const void* address) {
  char text[kModuleVersionTextLength];
  GetModuleVersionText(address, text);
  return text;
}

TEST(ModuleVersion, ModulesReportTheirOwnVersion) {
  EXPECT_EQ(VersionText(VersionedTestModuleAddress()), "1, 2, 3, 4");
  EXPECT_EQ(VersionValue(WG_VERSIONED_TEST_MODULE_FILE, kFileDescription), "Versioned test module");
  EXPECT_EQ(VersionValue(WG_VERSIONED_TEST_MODULE_FILE, "\\StringFileInfo\\040904b0\\Comments"),
            std::nullopt);
  EXPECT_EQ(VersionValue(WG_CLIENT_LIBRARY_FILE, kFileVersion), "4, 1, 0, 1");
}

TEST(ModuleVersion, ModuleWithoutVersionIsUnknown) {
  EXPECT_EQ(VersionText(PlainTestModuleAddress()), "Unknown");
  int onTheStack = 0;
  EXPECT_EQ(VersionText(&onTheStack), "Unknown") << "an address in no module";
}

// A copy of the versioned module, damaged in one way; the reader must give up cleanly (or, where
// the damage leaves the entry whole, still find it).
class DamagedModule : public IsolatedTest {
 protected:
  void SetUp() override {
    IsolatedTest::SetUp();
    original_ = ReadWholeFile(WG_VERSIONED_TEST_MODULE_FILE);
    ASSERT_GE(original_.size(), sizeof(Elf64_Ehdr));
    std::memcpy(&header_, original_.data(), sizeof header_);
    Elf64_Shdr names;
    std::memcpy(&names, original_.data() + sectionHeaderOffset(header_.e_shstrndx), sizeof names);
    for (int i = 0; i < header_.e_shnum; ++i) {
      Elf64_Shdr section;
      std::memcpy(&section, original_.data() + sectionHeaderOffset(i), sizeof section);
      if (std::strcmp(original_.c_str() + names.sh_offset + section.sh_name, ".wgversion") == 0) {
        versionIndex_ = i;
        version_ = section;
      }
    }
    ASSERT_GE(versionIndex_, 0);
  }

  size_t sectionHeaderOffset(int index) const {
    return header_.e_shoff + static_cast<size_t>(index) * sizeof(Elf64_Shdr);
  }
  size_t versionFieldOffset(size_t field) const {
    return sectionHeaderOffset(versionIndex_) + field;
  }

  template <typename T>
  static void Put(std::string* file, size_t offset, T value) {
    std::memcpy(file->data() + offset, &value, sizeof value);
  }

  std::string original_;
  Elf64_Ehdr header_;
  Elf64_Shdr version_;
  int versionIndex_ = -1;
};

void Scramble(std::string* file, size_t from) {
  uint32_t x = 7;
  for (size_t i = from; i < file->size(); ++i) {
    x = x * 1103515245u + 12345u;
    (*file)[i] = static_cast<char>(x >> 16);
  }
}

TEST_F(DamagedModule, DamageNeverCrashesTheReader) {
  struct Case {
    const char* name;
    std::function<void(std::string*)> damage;
    std::optional<std::string> expected;
  };
  const uint64_t fileSize = original_.size();
  const Case cases[] = {
      {"untouched", [](std::string*) {}, "1, 2, 3, 4"},
      {"empty", [](std::string* f) { f->clear(); }, std::nullopt},
      {"cut in the magic", [](std::string* f) { f->resize(3); }, std::nullopt},
      {"cut in the header", [](std::string* f) { f->resize(63); }, std::nullopt},
      {"header only", [](std::string* f) { f->resize(64); }, std::nullopt},
      {"cut before the section table", [&](std::string* f) { f->resize(header_.e_shoff + 10); },
       std::nullopt},
      {"cut in the last section header", [](std::string* f) { f->pop_back(); }, std::nullopt},
      {"not ELF", [](std::string* f) { (*f)[1] = 'X'; }, std::nullopt},
      {"32-bit class", [](std::string* f) { (*f)[EI_CLASS] = ELFCLASS32; }, std::nullopt},
      {"big-endian", [](std::string* f) { (*f)[EI_DATA] = ELFDATA2MSB; }, std::nullopt},
      {"section table far beyond the end",
       [](std::string* f) { Put<uint64_t>(f, offsetof(Elf64_Ehdr, e_shoff), ~0ull - 8); },
       std::nullopt},
      {"section table overlapping the end",
       [=](std::string* f) { Put<uint64_t>(f, offsetof(Elf64_Ehdr, e_shoff), fileSize - 70); },
       std::nullopt},
      {"section entries too small",
       [](std::string* f) { Put<uint16_t>(f, offsetof(Elf64_Ehdr, e_shentsize), 32); },
       std::nullopt},
      {"no sections", [](std::string* f) { Put<uint16_t>(f, offsetof(Elf64_Ehdr, e_shnum), 0); },
       std::nullopt},
      {"too many sections",
       [](std::string* f) { Put<uint16_t>(f, offsetof(Elf64_Ehdr, e_shnum), 0xFFFF); },
       std::nullopt},
      {"name table index out of range",
       [&](std::string* f) { Put<uint16_t>(f, offsetof(Elf64_Ehdr, e_shstrndx), header_.e_shnum); },
       std::nullopt},
      {"name table index escaped",
       [](std::string* f) { Put<uint16_t>(f, offsetof(Elf64_Ehdr, e_shstrndx), SHN_XINDEX); },
       std::nullopt},
      {"name beyond the name table",
       [&](std::string* f) {
         Put<uint32_t>(f, versionFieldOffset(offsetof(Elf64_Shdr, sh_name)), ~0u);
       },
       std::nullopt},
      {"version table beyond the end",
       [&](std::string* f) {
         Put<uint64_t>(f, versionFieldOffset(offsetof(Elf64_Shdr, sh_offset)), ~0ull - 3);
       },
       std::nullopt},
      {"version table larger than the file",
       [&](std::string* f) {
         Put<uint64_t>(f, versionFieldOffset(offsetof(Elf64_Shdr, sh_size)), fileSize);
       },
       std::nullopt},
      {"version table without room in the file",
       [&](std::string* f) {
         Put<uint32_t>(f, versionFieldOffset(offsetof(Elf64_Shdr, sh_type)), SHT_NOBITS);
       },
       std::nullopt},
      {"version table cut in its first string",
       [&](std::string* f) {
         Put<uint64_t>(f, versionFieldOffset(offsetof(Elf64_Shdr, sh_size)), 12);
       },
       std::nullopt},
      {"version table ending right after the entry",
       [&](std::string* f) {
         Put<uint64_t>(f, versionFieldOffset(offsetof(Elf64_Shdr, sh_size)),
                       sizeof kFileVersion + sizeof "1, 2, 3, 4");
       },
       "1, 2, 3, 4"},
      {"version table ending inside the value",
       [&](std::string* f) {
         Put<uint64_t>(f, versionFieldOffset(offsetof(Elf64_Shdr, sh_size)),
                       sizeof kFileVersion + 3);
       },
       std::nullopt},
      {"version table without terminators",
       [&](std::string* f) { std::memset(f->data() + version_.sh_offset, 'x', version_.sh_size); },
       std::nullopt},
      {"garbage", [](std::string* f) { Scramble(f, 0); }, std::nullopt},
      {"garbage after a sound header", [](std::string* f) { Scramble(f, sizeof(Elf64_Ehdr)); },
       std::nullopt},
  };
  const std::string path = scratch() + "/damaged.so";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = original_;
    c.damage(&file);
    WriteWholeFile(path, file);
    EXPECT_EQ(VersionValue(path, kFileVersion), c.expected);
  }
  EXPECT_EQ(VersionValue(scratch() + "/missing.so", kFileVersion), std::nullopt);
  EXPECT_EQ(VersionValue(scratch(), kFileVersion), std::nullopt) << "a folder";
}

}  // namespace
