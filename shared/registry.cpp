#include "shared/registry.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/module_version.h"
#include "platform/process.h"

namespace {

constexpr char kUnknownVersion[] = "Unknown";
constexpr char kFileVersionQuery[] = "\\StringFileInfo\\040904b0\\FileVersion";

// Copies `text` into `output` of `capacity` characters with its zero. A cut never splits a
// UTF-8 sequence, so what the caller shows is still valid text.
void CopyCut(std::string_view text, char* output, size_t capacity) {
  size_t length = text.size();
  if (length >= capacity) {
    length = capacity - 1;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(output, text.data(), length);
  output[length] = '\0';
}

std::string_view OrEmpty(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

// The store drops empty path components, so a prefix with or without its closing backslash and
// an empty subkey all name the expected key.
std::string KeyPath(const RegistryRoot* pRoot, const char* pszSubkey) {
  std::string path(pRoot->szPrefix);
  path += '\\';
  path += OrEmpty(pszSubkey);
  return path;
}

}  // namespace

RegistryRoot MakeRegistryRoot(platform::RegistryHive hRootKey, const char* pszPrefix) {
  RegistryRoot root{};
  root.hRootKey = hRootKey;
  CopyCut(OrEmpty(pszPrefix), root.szPrefix, sizeof root.szPrefix);
  return root;
}

uint32_t RegReadNumber(const RegistryRoot* pRoot, const char* pszSubkey, const char* pszName,
                       uint32_t uiDefault) {
  if (!pRoot) return uiDefault;
  return platform::RegistryReadNumberOrStore(pRoot->hRootKey, KeyPath(pRoot, pszSubkey),
                                             std::string(OrEmpty(pszName)), uiDefault);
}

void RegWriteNumber(const RegistryRoot* pRoot, const char* pszSubkey, const char* pszName,
                    uint32_t uiValue) {
  if (!pRoot) return;
  platform::RegistrySetNumber(pRoot->hRootKey, KeyPath(pRoot, pszSubkey),
                              std::string(OrEmpty(pszName)), uiValue);
}

void RegReadText(const RegistryRoot* pRoot, const char* pszSubkey, const char* pszName,
                 const char* pszDefault, char* pszOutput) {
  std::string text(OrEmpty(pszDefault));
  if (pRoot) {
    text = platform::RegistryReadTextOrStore(pRoot->hRootKey, KeyPath(pRoot, pszSubkey),
                                             std::string(OrEmpty(pszName)), text);
  }
  if (pszOutput) CopyCut(text, pszOutput, kRegistryTextLength);
}

void RegWriteText(const RegistryRoot* pRoot, const char* pszSubkey, const char* pszName,
                  const char* pszText) {
  if (!pRoot) return;
  platform::RegistrySetText(pRoot->hRootKey, KeyPath(pRoot, pszSubkey),
                            std::string(OrEmpty(pszName)), std::string(OrEmpty(pszText)));
}

void GetModuleVersionText(const void* pModuleAddress, char* pszOutput) {
  if (!pszOutput) return;
  CopyCut(kUnknownVersion, pszOutput, kModuleVersionTextLength);
  std::string path = platform::ModuleFilePath(pModuleAddress);
  std::string version;
  if (path.empty() || !platform::ReadModuleVersionValue(path, kFileVersionQuery, &version)) return;
  CopyCut(version, pszOutput, kModuleVersionTextLength);
}
