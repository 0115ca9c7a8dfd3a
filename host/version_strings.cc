#include "version_strings.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

namespace morvane::host {

namespace {

template <typename T>
bool ReadAt(const std::string& file, size_t offset, T* out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
  std::memcpy(out, file.data() + offset, sizeof(T));
  return true;
}

// The bytes of the named section of a 64-bit ELF image; empty when absent.
std::string_view Section(const std::string& file, std::string_view wanted) {
  Elf64_Ehdr eh;
  if (!ReadAt(file, 0, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_shstrndx == SHN_UNDEF) {
    return {};
  }
  Elf64_Shdr names;
  if (!ReadAt(file, eh.e_shoff + size_t{eh.e_shstrndx} * eh.e_shentsize, &names)) return {};
  for (size_t i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr sh;
    if (!ReadAt(file, eh.e_shoff + i * eh.e_shentsize, &sh)) return {};
    const size_t name_at = names.sh_offset + sh.sh_name;
    if (name_at >= file.size()) continue;
    const std::string_view name(file.c_str() + name_at);
    if (name != wanted) continue;
    if (sh.sh_offset > file.size() || file.size() - sh.sh_offset < sh.sh_size) return {};
    return std::string_view(file.data() + sh.sh_offset, sh.sh_size);
  }
  return {};
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ReadOwnVersionStrings() {
  std::vector<std::pair<std::string, std::string>> strings;
  std::ifstream in("/proc/self/exe", std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string_view records = Section(file, ".morvane_version");
  // Records are zero-terminated "path=value" texts; the string values sit
  // under "\StringFileInfo\<translation>\<key>".
  constexpr std::string_view kPrefix = "\\StringFileInfo\\";
  while (!records.empty()) {
    const size_t end = records.find('\0');
    const std::string_view record = records.substr(0, end);
    records = end == std::string_view::npos ? std::string_view() : records.substr(end + 1);
    if (record.substr(0, kPrefix.size()) != kPrefix) continue;
    const size_t eq = record.find('=');
    if (eq == std::string_view::npos) continue;
    const size_t key_at = record.rfind('\\', eq) + 1;
    strings.emplace_back(std::string(record.substr(key_at, eq - key_at)),
                         std::string(record.substr(eq + 1)));
  }
  return strings;
}

}  // namespace morvane::host
