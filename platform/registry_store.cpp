#include "platform/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {
namespace {

constexpr std::string_view kFileHeader = "REGEDIT4";
// A settings store holds a few dozen values; a file far beyond that is not ours to rewrite.
constexpr size_t kMaxStoreBytes = 64u << 20;

struct HiveRoot {
  RegistryHive hive;
  std::string_view root;
};
constexpr HiveRoot kHiveRoots[] = {
    {RegistryHive::kLocalMachine, "HKEY_LOCAL_MACHINE"},
    {RegistryHive::kCurrentUser, "HKEY_CURRENT_USER"},
};

std::string_view RootName(RegistryHive hive) {
  for (const HiveRoot& entry : kHiveRoots) {
    if (entry.hive == hive) return entry.root;
  }
  return {};
}

char FoldCase(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r";
  size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlank);
  return text.substr(first, last - first + 1);
}

// Line breaks and NUL have no spelling in the format: such a text could not be read back.
bool Storable(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Software\\Kestrelon\ and Software\Kestrelon name the same key: empty components are dropped,
// as a prefix and a subkey are often joined with a separator too many.
std::string NormalizeKeyPath(std::string_view path) {
  std::string normalized;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!normalized.empty()) normalized += '\\';
      normalized.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return normalized;
}

enum class ValueKind {
  kUnnamed,  // a comment or a line we cannot read: kept as it stands
  kText,
  kNumber,
  kOther,  // a named value of another type (hex: and the like) or in a form we cannot read
};

struct Line {
  ValueKind kind = ValueKind::kUnnamed;
  std::string name;  // "" is the key's default value, written @
  std::string text;
  uint32_t number = 0;
  std::string raw;  // as it stands in the file, continuation lines included
};

struct Section {
  bool isKey = false;  // false: a header we cannot read, its lines are kept as they stand
  std::string header;  // the raw header line of a section that is not a key
  std::string root;    // "HKEY_LOCAL_MACHINE" as spelled in the file
  std::string path;    // normalized, first spelling seen
  std::vector<Line> lines;
};

struct Document {
  std::vector<Line> preamble;  // lines before the first key
  std::vector<Section> sections;
};

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string RenderValue(const Line& line) {
  std::string rendered = line.name.empty() ? std::string("@") : Quote(line.name);
  rendered += '=';
  if (line.kind == ValueKind::kText) {
    rendered += Quote(line.text);
  } else {
    static constexpr char kDigits[] = "0123456789abcdef";
    rendered += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) rendered += kDigits[(line.number >> shift) & 0xF];
  }
  return rendered;
}

// Parses a quoted string with \\ and \" escapes from the front of `text`; returns the rest.
std::optional<std::string_view> ParseQuoted(std::string_view text, std::string* out) {
  if (text.empty() || text[0] != '"') return std::nullopt;
  out->clear();
  for (size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') return text.substr(i + 1);
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return std::nullopt;
      c = text[++i];
    }
    if (c == '\0' || c == '\r') return std::nullopt;
    out->push_back(c);
  }
  return std::nullopt;
}

std::optional<uint32_t> ParseDword(std::string_view data) {
  constexpr std::string_view kTag = "dword:";
  if (!StartsWithNoCase(data, kTag)) return std::nullopt;
  std::string_view digits = data.substr(kTag.size());
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (FoldCase(c) >= 'A' && FoldCase(c) <= 'F') {
      digit = static_cast<uint32_t>(FoldCase(c) - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = (value << 4) | digit;
  }
  return value;
}

// A value line; `continues` tells whether binary data goes on in the next line.
Line ParseValueLine(std::string_view raw, bool* continues) {
  *continues = false;
  Line line;
  line.raw = raw;
  std::string_view rest = Trim(raw);
  std::string name;
  if (!rest.empty() && rest[0] == '@') {
    rest.remove_prefix(1);
  } else {
    std::optional<std::string_view> afterName = ParseQuoted(rest, &name);
    if (!afterName) return line;
    rest = *afterName;
  }
  rest = Trim(rest);
  if (rest.empty() || rest[0] != '=') return line;
  std::string_view data = Trim(rest.substr(1));
  if (data.empty()) return line;
  line.name = std::move(name);
  line.kind = ValueKind::kOther;
  std::string text;
  std::optional<std::string_view> afterText = ParseQuoted(data, &text);
  if (afterText && Trim(*afterText).empty()) {
    line.kind = ValueKind::kText;
    line.text = std::move(text);
  } else if (std::optional<uint32_t> number = ParseDword(data)) {
    line.kind = ValueKind::kNumber;
    line.number = *number;
  } else {
    *continues = StartsWithNoCase(data, "hex") && data.back() == '\\';
  }
  return line;
}

// "[HKEY_LOCAL_MACHINE\Software\Kestrelon]": the key ends at the last bracket of the line.
bool ParseKeyHeader(std::string_view trimmed, Section* section) {
  if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return false;
  std::string_view inner = trimmed.substr(1, trimmed.size() - 2);
  if (inner.find('\0') != std::string_view::npos) return false;
  size_t slash = inner.find('\\');
  std::string_view root = inner.substr(0, slash);
  if (root.empty()) return false;
  section->isKey = true;
  section->root = root;
  if (slash != std::string_view::npos) section->path = NormalizeKeyPath(inner.substr(slash + 1));
  return true;
}

std::optional<size_t> FindSection(const Document& doc, std::string_view root,
                                  std::string_view path) {
  for (size_t i = 0; i < doc.sections.size(); ++i) {
    const Section& section = doc.sections[i];
    if (section.isKey && SameName(section.root, root) && SameName(section.path, path)) return i;
  }
  return std::nullopt;
}

Line* FindValue(Section* section, std::string_view name) {
  for (Line& line : section->lines) {
    if (line.kind != ValueKind::kUnnamed && SameName(line.name, name)) return &line;
  }
  return nullptr;
}

// The value takes the place and the spelling of the line it replaces.
void Replace(Line* existing, Line value) {
  value.name = std::move(existing->name);
  *existing = std::move(value);
  if (existing->kind != ValueKind::kOther) existing->raw = RenderValue(*existing);
}

// A later line of a name already seen wins, as when the file is imported.
void AddLine(Section* section, Line line) {
  Line* existing = line.kind == ValueKind::kUnnamed ? nullptr : FindValue(section, line.name);
  if (existing) {
    Replace(existing, std::move(line));
  } else {
    section->lines.push_back(std::move(line));
  }
}

class LineReader {
 public:
  explicit LineReader(std::string_view content) : content_(content) {}
  bool next(std::string_view* line) {
    if (pos_ >= content_.size()) return false;
    size_t end = content_.find('\n', pos_);
    if (end == std::string_view::npos) end = content_.size();
    *line = content_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    return true;
  }

 private:
  std::string_view content_;
  size_t pos_ = 0;
};

// A repeated key continues the first one, as when the file is imported.
size_t OpenSection(Document* doc, std::string_view raw) {
  Section section;
  if (!ParseKeyHeader(Trim(raw), &section)) section.header = raw;
  if (section.isKey) {
    if (std::optional<size_t> existing = FindSection(*doc, section.root, section.path)) {
      return *existing;
    }
  }
  doc->sections.push_back(std::move(section));
  return doc->sections.size() - 1;
}

Document Parse(std::string_view content) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
  Document doc;
  std::optional<size_t> current;  // none while in the preamble
  bool first = true;
  LineReader reader(content);
  std::string_view raw;
  while (reader.next(&raw)) {
    std::string_view trimmed = Trim(raw);
    if (trimmed.empty()) continue;
    if (std::exchange(first, false) && trimmed == kFileHeader) continue;
    if (trimmed.front() == '[') {
      current = OpenSection(&doc, raw);
      continue;
    }
    if (!current || !doc.sections[*current].isKey) {
      Line line;
      line.raw = raw;
      (current ? doc.sections[*current].lines : doc.preamble).push_back(std::move(line));
      continue;
    }
    bool continues;
    Line line = ParseValueLine(raw, &continues);
    while (continues && reader.next(&raw)) {
      line.raw += '\n';
      line.raw.append(raw);
      continues = Trim(raw).ends_with('\\');
    }
    AddLine(&doc.sections[*current], std::move(line));
  }
  return doc;
}

std::string Render(const Document& doc) {
  std::string out(kFileHeader);
  out += "\n\n";
  for (const Line& line : doc.preamble) out += line.raw + '\n';
  if (!doc.preamble.empty()) out += '\n';
  for (const Section& section : doc.sections) {
    if (section.isKey) {
      out += '[' + section.root;
      if (!section.path.empty()) out += '\\' + section.path;
      out += "]\n";
    } else {
      out += section.header + '\n';
    }
    for (const Line& line : section.lines) out += line.raw + '\n';
    out += '\n';
  }
  return out;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

enum class ReadStatus { kRead, kMissing, kUnreadable };

ReadStatus ReadStore(const std::string& path, std::string* content) {
  content->clear();
  // Non-blocking, so that a FIFO someone left at the path cannot hang the caller.
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kUnreadable;
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadStatus::kUnreadable;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadStatus::kUnreadable;
    if (n == 0) return ReadStatus::kRead;
    if (content->size() + static_cast<size_t>(n) > kMaxStoreBytes) return ReadStatus::kUnreadable;
    content->append(buffer, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Replaces the store in one step: a reader sees either the old file or the new one, and a
// crash leaves at worst a stray temporary file beside it.
bool ReplaceStore(const std::string& path, std::string_view content) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  // Only the holder of the store's lock writes the temporary file, so one name suffices.
  std::string temp = path + ".tmp";
  unlink(temp.c_str());
  Fd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (fd.get() < 0) return false;
  struct stat old;
  bool ok = (stat(path.c_str(), &old) != 0 || fchmod(fd.get(), old.st_mode & 07777) == 0) &&
            WriteAll(fd.get(), content) && fsync(fd.get()) == 0 &&
            rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
  return true;
}

// One read-modify-write of a store under its sidecar lock file. `change` edits the document
// and says whether there is anything to write.
template <typename Change>
bool UpdateStore(RegistryHive hive, Change change) {
  std::string path = RegistryStorePath(hive);
  if (path.empty()) return false;
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  Fd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (lock.get() < 0) return false;
  int locked;
  while ((locked = flock(lock.get(), LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (locked != 0) return false;
  std::string content;
  // A store that exists but cannot be read in full is never overwritten.
  if (ReadStore(path, &content) == ReadStatus::kUnreadable) return false;
  Document doc = Parse(content);
  if (!change(&doc)) return true;
  return ReplaceStore(path, Render(doc));
}

Document LoadStore(RegistryHive hive) {
  std::string content;
  ReadStore(RegistryStorePath(hive), &content);
  return Parse(content);
}

const Line* LookUp(Document* doc, RegistryHive hive, const std::string& key,
                   const std::string& name, ValueKind kind) {
  std::optional<size_t> section = FindSection(*doc, RootName(hive), NormalizeKeyPath(key));
  if (!section) return nullptr;
  const Line* line = FindValue(&doc->sections[*section], name);
  return line && line->kind == kind ? line : nullptr;
}

// Sets a text or number value, creating the key.
void Store(Document* doc, RegistryHive hive, const std::string& key, const std::string& name,
           Line value) {
  std::string path = NormalizeKeyPath(key);
  std::optional<size_t> found = FindSection(*doc, RootName(hive), path);
  if (!found) {
    Section added;
    added.isKey = true;
    added.root = RootName(hive);
    added.path = std::move(path);
    doc->sections.push_back(std::move(added));
    found = doc->sections.size() - 1;
  }
  Section& section = doc->sections[*found];
  value.name = name;
  value.raw = RenderValue(value);
  AddLine(&section, std::move(value));
}

bool StorableNames(const std::string& key, const std::string& name) {
  return Storable(key) && Storable(name);
}

Line NumberValue(uint32_t number) {
  Line line;
  line.kind = ValueKind::kNumber;
  line.number = number;
  return line;
}

Line TextValue(const std::string& text) {
  Line line;
  line.kind = ValueKind::kText;
  line.text = text;
  return line;
}

std::string FromEnvironment(const char* variable) {
  const char* value = getenv(variable);
  return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = FromEnvironment("HOME");
  if (!home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    return found->pw_dir;
  }
  return {};
}

}  // namespace

std::string RegistryStorePath(RegistryHive hive) {
  if (hive == RegistryHive::kLocalMachine) {
    std::string path = FromEnvironment("WHORLGATE_MACHINE_REGISTRY");
    return path.empty() ? std::string("/var/lib/whorlgate/machine.reg") : path;
  }
  std::string path = FromEnvironment("WHORLGATE_USER_REGISTRY");
  if (!path.empty()) return path;
  // A relative XDG_CONFIG_HOME is to be ignored, as for every other program of the desktop.
  std::string config = FromEnvironment("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    config = home + "/.config";
  }
  return config + "/whorlgate/user.reg";
}

bool RegistryQueryNumber(RegistryHive hive, const std::string& key, const std::string& name,
                         uint32_t* value) {
  Document doc = LoadStore(hive);
  const Line* line = LookUp(&doc, hive, key, name, ValueKind::kNumber);
  if (line && value) *value = line->number;
  return line != nullptr;
}

bool RegistryQueryText(RegistryHive hive, const std::string& key, const std::string& name,
                       std::string* value) {
  Document doc = LoadStore(hive);
  const Line* line = LookUp(&doc, hive, key, name, ValueKind::kText);
  if (line && value) *value = line->text;
  return line != nullptr;
}

bool RegistrySetNumber(RegistryHive hive, const std::string& key, const std::string& name,
                       uint32_t value) {
  if (!StorableNames(key, name)) return false;
  return UpdateStore(hive, [&](Document* doc) {
    Store(doc, hive, key, name, NumberValue(value));
    return true;
  });
}

bool RegistrySetText(RegistryHive hive, const std::string& key, const std::string& name,
                     const std::string& value) {
  if (!StorableNames(key, name) || !Storable(value)) return false;
  return UpdateStore(hive, [&](Document* doc) {
    Store(doc, hive, key, name, TextValue(value));
    return true;
  });
}

uint32_t RegistryReadNumberOrStore(RegistryHive hive, const std::string& key,
                                   const std::string& name, uint32_t fallback) {
  // Most reads find their value; they need neither the lock nor a writable folder (the machine
  // store is usually read-only to its users).
  uint32_t value = fallback;
  if (RegistryQueryNumber(hive, key, name, &value) || !StorableNames(key, name)) return value;
  UpdateStore(hive, [&](Document* doc) {
    if (const Line* line = LookUp(doc, hive, key, name, ValueKind::kNumber)) {
      value = line->number;
      return false;
    }
    Store(doc, hive, key, name, NumberValue(fallback));
    return true;
  });
  return value;
}

std::string RegistryReadTextOrStore(RegistryHive hive, const std::string& key,
                                    const std::string& name, const std::string& fallback) {
  std::string value = fallback;
  if (RegistryQueryText(hive, key, name, &value) || !StorableNames(key, name) ||
      !Storable(fallback)) {
    return value;
  }
  UpdateStore(hive, [&](Document* doc) {
    if (const Line* line = LookUp(doc, hive, key, name, ValueKind::kText)) {
      value = line->text;
      return false;
    }
    Store(doc, hive, key, name, TextValue(fallback));
    return true;
  });
  return value;
}

}  // namespace platform
