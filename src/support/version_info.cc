#include "support/version_info.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <iostream>

#include "support/ascii_text.h"

namespace morvane {
namespace {

std::atomic<const VersionSource*> g_test_source{nullptr};

constexpr std::string_view kMagicRecord = "MORVANE-VERSION=1";

// The first language/code-page pair of a translation value, or 0 when the
// value is shorter than one pair.
uint32_t FirstTranslation(std::string_view value) {
  while (!value.empty() && value.front() == ' ') {
    value.remove_prefix(1);
  }
  if (value.size() < 8) {
    return 0;
  }
  uint32_t id = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const int d = HexDigitValue(value[i]);
    if (d < 0) {
      return 0;
    }
    id = id * 16 + static_cast<uint32_t>(d);
  }
  return id;
}

}  // namespace

void SetVersionSourceForTesting(const VersionSource* source) {
  g_test_source.store(source, std::memory_order_release);
}

TProgramVersionInfo::TProgramVersionInfo() {
  if (const VersionSource* s = g_test_source.load(std::memory_order_acquire)) {
    Load(*s);
  } else {
    Load(ElfVersionSource());
  }
}

TProgramVersionInfo::TProgramVersionInfo(const VersionSource& source) {
  Load(source);
}

void TProgramVersionInfo::Load(const VersionSource& source) {
  file_name_ = source.FileName();
  int error = 0;
  // Taken out of the optional at once: GCC 12 warns (wrongly) about an
  // uninitialised string when the optional is reset and tested again.
  std::optional<std::string> read = source.Read(&error);
  const bool found = read.has_value();
  std::string data = found ? std::move(*read) : std::string();
  const bool valid = found && std::string_view(data).starts_with(kMagicRecord);
  if (found && !valid) error = EINVAL;
  if (!valid) {
    // No message box on a server: the operator sees standard error.
    std::cerr << "GetFileVersionInfoSize error #:" << error << std::endl;
  } else {
    data_ = std::move(data);
  }
  const std::optional<std::string_view> translation = Query("\\VarFileInfo\\Translation");
  language_id_ = translation ? FirstTranslation(*translation) : 0;
  char key[9];
  std::snprintf(key, sizeof key, "%08X", language_id_);
  translation_key_ = key;
  language_name_ = LanguageName(static_cast<uint16_t>(language_id_ >> 16));
}

std::optional<std::string_view> TProgramVersionInfo::Query(std::string_view path) const {
  std::string_view rest = data_;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\0');
    const std::string_view record = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    const std::size_t eq = record.find('=');
    if (eq != std::string_view::npos && EqualsIgnoringCase(record.substr(0, eq), path)) {
      return record.substr(eq + 1);
    }
  }
  return std::nullopt;
}

std::string TProgramVersionInfo::GetFVerValue(std::string_view key_name) const {
  std::string path = "\\StringFileInfo\\" + translation_key_ + "\\";
  path += key_name;
  const std::optional<std::string_view> value = Query(path);
  if (!value || value->empty()) {
    return {};
  }
  return std::string(value->substr(0, kMaxVersionStringLength));
}

std::string TProgramVersionInfo::GetVersionString(unsigned selector) const {
  static constexpr std::string_view kNames[] = {"",
                                                "CompanyName",
                                                "FileDescription",
                                                "FileVersion",
                                                "InternalName",
                                                "LegalCopyright",
                                                "LegalTrademarks",
                                                "OriginalFilename",
                                                "ProductName",
                                                "ProductVersion",
                                                "Comments"};
  if (selector == 0) {
    return language_name_;
  }
  if (selector >= std::size(kNames)) {
    return {};
  }
  return GetFVerValue(kNames[selector]);
}

std::string LanguageName(uint16_t language) {
  struct Known {
    uint16_t id;
    const char* name;
  };
  static constexpr Known kKnown[] = {
      {0x0404, "Chinese (Traditional)"},
      {0x0407, "German (Germany)"},
      {0x0409, "English (United States)"},
      {0x040C, "French (France)"},
      {0x0410, "Italian (Italy)"},
      {0x0411, "Japanese"},
      {0x0412, "Korean"},
      {0x0804, "Chinese (Simplified)"},
      {0x0809, "English (United Kingdom)"},
      {0x0C0A, "Spanish (Spain)"},
  };
  for (const Known& k : kKnown) {
    if (k.id == language) {
      return k.name;
    }
  }
  return "Language Neutral";
}

}  // namespace morvane
