// Reading INI-format settings files with the platform's profile-file rules.
//
// The settings file and the holiday file were written for a profile-file
// reader, so operators' files rely on its quirks; TIniFile keeps them:
//   - a section opens with a line "[name]"; its entries follow as "key=value";
//   - section and key names match ignoring ASCII letter case;
//   - blanks and tabs around section names, keys and values are dropped, and a
//     value wrapped in a matching pair of double (or single) quotes loses them;
//   - a value is read up to 2047 characters, the rest is cut;
//   - a key present with an empty value reads as "", not as the default; an
//     absent key, section or file reads as the default;
//   - when a section name repeats, only its first occurrence is searched; when
//     a key repeats within it, the first occurrence wins;
//   - lines starting with ';' are comments; lines that are neither a section
//     header nor hold a '=' are ignored; LF and CR LF line ends both work, and
//     a UTF-8 byte-order mark at the start is skipped.
#ifndef MORVANE_SUPPORT_INI_FILE_H_
#define MORVANE_SUPPORT_INI_FILE_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// The longest value a read gives back; longer values are cut to this length.
inline constexpr std::size_t kMaxIniValueLength = 2047;

// One settings file, read whole at construction: one state of it, never a
// mix of the file before and during a rewrite in place (construction waits
// up to a second for a file found just emptied, see ini_file.cc). A missing
// or unreadable file reads as empty (every key gives its default);
// construction never throws for file reasons. Immutable afterwards, so one object may be read
// from several threads at once.
class TIniFile {
 public:
  explicit TIniFile(std::string path);

  // The value of `key` in `section`, or `def` when either is absent.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;

  // Every entry of `section` as "key=value" texts in file order, one per
  // distinct key (with the value ReadString gives); empty when the section is
  // absent.
  std::vector<std::string> ReadSectionValues(std::string_view section) const;

  // The path given at construction.
  const std::string& FileName() const { return path_; }

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };

  void Parse(std::string_view text);
  const Section* FindSection(std::string_view name) const;

  std::string path_;
  std::vector<Section> sections_;
};

}  // namespace morvane

#endif  // MORVANE_SUPPORT_INI_FILE_H_
