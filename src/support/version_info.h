// The version strings of the running executable, for the log's header.
//
// Linux executables carry no version resource, so the build gives each host
// executable one: the section ".morvane_version" (made by
// morvane_add_version_info in cmake/VersionInfo.cmake) holds a sequence of
// zero-terminated "path=value" records, of which the first is
// "MORVANE-VERSION=1". The paths are those a version resource is queried by:
//   \VarFileInfo\Translation=040904E4        (8 hex digits per translation:
//                                              language, then code page)
//   \StringFileInfo\040904E4\ProductName=Morvane
// The reader finds the section through the ELF section headers of
// /proc/self/exe; inside a web server that is the server's own program, as
// the log's header is meant to name the process, not the extension.
#ifndef MORVANE_SUPPORT_VERSION_INFO_H_
#define MORVANE_SUPPORT_VERSION_INFO_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// The ELF section that holds the version records.
inline constexpr std::string_view kVersionSectionName = ".morvane_version";
// The longest version string handed back; longer ones are cut.
inline constexpr std::size_t kMaxVersionStringLength = 254;

// Where the raw version records come from.
class VersionSource {
 public:
  virtual ~VersionSource() = default;
  // The file the records belong to, for messages.
  virtual std::string FileName() const = 0;
  // The raw records, or nullopt with `*error_code` set (an errno value:
  // the file's read error, or ENODATA when it holds no version section).
  virtual std::optional<std::string> Read(int* error_code) const = 0;
};

// The ".morvane_version" section of an ELF file (default: the running
// executable). Understands 32- and 64-bit files of either byte order.
class ElfVersionSource final : public VersionSource {
 public:
  explicit ElfVersionSource(std::string path = "/proc/self/exe") : path_(std::move(path)) {}
  std::string FileName() const override { return path_; }
  std::optional<std::string> Read(int* error_code) const override;

 private:
  std::string path_;
};

// Installs `source` (not owned; must outlive its use) as the source a
// default-constructed TProgramVersionInfo reads, or restores the executable
// with nullptr. For tests.
void SetVersionSourceForTesting(const VersionSource* source);

class TProgramVersionInfo {
 public:
  // Reads the running executable's version data (or the test source). When
  // there is none, writes "GetFileVersionInfoSize error #:" and the error
  // code to standard error, and every string reads as empty.
  TProgramVersionInfo();
  explicit TProgramVersionInfo(const VersionSource& source);
  virtual ~TProgramVersionInfo() = default;

  // 0 language name, 1 CompanyName, 2 FileDescription, 3 FileVersion,
  // 4 InternalName, 5 LegalCopyright, 6 LegalTrademarks, 7 OriginalFilename,
  // 8 ProductName, 9 ProductVersion, 10 Comments; any other selector gives
  // "". Values are cut to 254 characters; a missing value is "".
  std::string GetVersionString(unsigned selector) const;

  const std::string& FileName() const { return file_name_; }
  // 8 upper-case hex digits: language identifier, then code page.
  const std::string& TranslationKey() const { return translation_key_; }
  // Language identifier times 65536 plus code page; 0 without a translation.
  uint32_t LanguageId() const { return language_id_; }

 private:
  void Load(const VersionSource& source);
  std::optional<std::string_view> Query(std::string_view path) const;
  std::string GetFVerValue(std::string_view key_name) const;

  std::string file_name_;
  std::string data_;  // the raw records
  uint32_t language_id_ = 0;
  std::string translation_key_ = "00000000";
  std::string language_name_;
};

// The name of a 16-bit language identifier (the first half of a translation
// key) as the platform's language table spells it, e.g. 0x0409 "English
// (United States)". Only common languages are known; others read as
// "Language Neutral", as 0 does.
std::string LanguageName(uint16_t language);

}  // namespace morvane

#endif  // MORVANE_SUPPORT_VERSION_INFO_H_
