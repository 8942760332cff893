#include "platform/module_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "shared/little_endian.h"

namespace platform {
namespace {

// The parts of an ELF64 file that lead to a section by name.
namespace elf {
constexpr size_t kFileHeaderSize = 64;
constexpr uint8_t kMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr size_t kIdentClass = 4;
constexpr size_t kIdentData = 5;
constexpr size_t kIdentVersion = 6;
constexpr uint8_t kClass64 = 2;
constexpr uint8_t kDataLittleEndian = 1;
constexpr uint8_t kVersionCurrent = 1;
constexpr size_t kSectionTableOffset = 0x28;  // e_shoff
constexpr size_t kSectionEntrySize = 0x3A;    // e_shentsize
constexpr size_t kSectionCount = 0x3C;        // e_shnum
constexpr size_t kNameTableIndex = 0x3E;      // e_shstrndx

constexpr size_t kSectionHeaderSize = 64;
constexpr size_t kSectionName = 0x00;        // sh_name: offset in the section name table
constexpr size_t kSectionType = 0x04;        // sh_type
constexpr size_t kSectionFileOffset = 0x18;  // sh_offset
constexpr size_t kSectionFileSize = 0x20;    // sh_size
constexpr uint32_t kTypeNoBits = 8;          // SHT_NOBITS: takes no room in the file
}  // namespace elf

constexpr std::string_view kVersionSection{".wgversion", sizeof ".wgversion"};  // with its NUL
// A version table is a few short strings; anything larger is not one.
constexpr uint64_t kMaxVersionSectionBytes = 64 * 1024;


class ModuleFile {
 public:
  explicit ModuleFile(const std::string& path)
      : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat st;
    if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      size_ = static_cast<uint64_t>(st.st_size);
    }
  }
  ModuleFile(const ModuleFile&) = delete;
  ModuleFile& operator=(const ModuleFile&) = delete;
  ~ModuleFile() {
    if (fd_ >= 0) close(fd_);
  }

  // Reads `size` bytes at `offset`; false unless all of them lie inside the file.
  bool read(uint64_t offset, uint64_t size, std::vector<uint8_t>* out) const {
    if (offset > size_ || size > size_ - offset) return false;
    out->resize(size);
    uint64_t done = 0;
    while (done < size) {
      ssize_t n = pread(fd_, out->data() + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<uint64_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

struct SectionHeader {
  uint32_t name;
  uint32_t type;
  uint64_t offset;
  uint64_t size;
};

SectionHeader DecodeSectionHeader(const uint8_t* p) {
  return {LoadU32(p + elf::kSectionName), LoadU32(p + elf::kSectionType),
          LoadU64(p + elf::kSectionFileOffset), LoadU64(p + elf::kSectionFileSize)};
}

bool FindVersionSection(const ModuleFile& file, std::vector<uint8_t>* contents) {
  std::vector<uint8_t> header;
  if (!file.read(0, elf::kFileHeaderSize, &header)) return false;
  if (std::memcmp(header.data(), elf::kMagic, sizeof elf::kMagic) != 0 ||
      header[elf::kIdentClass] != elf::kClass64 ||
      header[elf::kIdentData] != elf::kDataLittleEndian ||
      header[elf::kIdentVersion] != elf::kVersionCurrent) {
    return false;
  }
  uint64_t tableOffset = LoadU64(&header[elf::kSectionTableOffset]);
  uint16_t entrySize = LoadU16(&header[elf::kSectionEntrySize]);
  uint16_t count = LoadU16(&header[elf::kSectionCount]);
  uint16_t nameTableIndex = LoadU16(&header[elf::kNameTableIndex]);
  // Files with more sections than the header can count keep the count elsewhere; no module
  // of ours comes near that, so such a file simply has no version table for us.
  if (entrySize != elf::kSectionHeaderSize || count == 0 || nameTableIndex >= count) return false;
  std::vector<uint8_t> table;
  if (!file.read(tableOffset, uint64_t{count} * entrySize, &table)) return false;
  SectionHeader names = DecodeSectionHeader(&table[size_t{nameTableIndex} * entrySize]);
  if (names.type == elf::kTypeNoBits) return false;
  std::vector<uint8_t> name;
  for (uint16_t i = 0; i < count; ++i) {
    SectionHeader section = DecodeSectionHeader(&table[size_t{i} * entrySize]);
    if (section.name >= names.size || names.size - section.name < kVersionSection.size()) continue;
    if (!file.read(names.offset + section.name, kVersionSection.size(), &name) ||
        std::memcmp(name.data(), kVersionSection.data(), kVersionSection.size()) != 0) {
      continue;
    }
    return section.type != elf::kTypeNoBits && section.size <= kMaxVersionSectionBytes &&
           file.read(section.offset, section.size, contents);
  }
  return false;
}

}  // namespace

bool ReadModuleVersionValue(const std::string& path, const std::string& query, std::string* value) {
  ModuleFile file(path);
  std::vector<uint8_t> contents;
  if (!FindVersionSection(file, &contents)) return false;
  std::string_view table(reinterpret_cast<const char*>(contents.data()), contents.size());
  // Pairs of NUL-terminated strings; a string that runs off the end ends the table.
  for (;;) {
    size_t keyEnd = table.find('\0');
    if (keyEnd == std::string_view::npos || keyEnd == 0) return false;
    size_t valueEnd = table.find('\0', keyEnd + 1);
    if (valueEnd == std::string_view::npos) return false;
    if (table.substr(0, keyEnd) == query) {
      if (value) *value = table.substr(keyEnd + 1, valueEnd - keyEnd - 1);
      return true;
    }
    table.remove_prefix(valueEnd + 1);
  }
}

}  // namespace platform
