#include "support/version_info.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "support/test_env.h"

namespace morvane {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::string Records(std::initializer_list<std::string> records) {
  std::string data;
  for (const std::string& r : records) {
    data += r;
    data += '\0';
  }
  return data;
}

class FakeSource final : public VersionSource {
 public:
  FakeSource(std::optional<std::string> data, int error) : data_(std::move(data)), error_(error) {}
  std::string FileName() const override { return "/fake/program"; }
  std::optional<std::string> Read(int* error_code) const override {
    *error_code = data_ ? 0 : error_;
    return data_;
  }

 private:
  std::optional<std::string> data_;
  int error_;
};

TEST(VersionInfo, StringsComeFromTheFirstTranslationOnly) {
  const FakeSource source(
      Records({"MORVANE-VERSION=1", "\\VarFileInfo\\Translation=040904E4 041104B0",
               "\\StringFileInfo\\041104B0\\CompanyName=Other block",
               "\\StringFileInfo\\040904E4\\ProductName=Morvane",
               "\\StringFileInfo\\040904e4\\CompanyName=Morvane Ltd",
               "\\StringFileInfo\\040904E4\\FileVersion=1.2.3",
               "\\StringFileInfo\\040904E4\\Comments=a=b",
               "\\StringFileInfo\\040904E4\\InternalName="}),
      0);
  const TProgramVersionInfo info(source);
  EXPECT_EQ(info.TranslationKey(), "040904E4");
  EXPECT_EQ(info.LanguageId(), 0x040904E4u);
  EXPECT_EQ(info.FileName(), "/fake/program");
  EXPECT_EQ(info.GetVersionString(0), "English (United States)");
  EXPECT_EQ(info.GetVersionString(1), "Morvane Ltd");
  EXPECT_EQ(info.GetVersionString(3), "1.2.3");
  EXPECT_EQ(info.GetVersionString(4), "");  // present but empty
  EXPECT_EQ(info.GetVersionString(8), "Morvane");
  EXPECT_EQ(info.GetVersionString(9), "");  // absent
  EXPECT_EQ(info.GetVersionString(10), "a=b");
  EXPECT_EQ(info.GetVersionString(11), "");
  EXPECT_EQ(info.GetVersionString(1000), "");
}

TEST(VersionInfo, LongValuesAreCutTo254) {
  const std::string value(300, 'v');
  const FakeSource source(Records({"MORVANE-VERSION=1", "\\VarFileInfo\\Translation=040904E4",
                                   "\\StringFileInfo\\040904E4\\LegalCopyright=" + value}),
                          0);
  EXPECT_EQ(TProgramVersionInfo(source).GetVersionString(5), value.substr(0, 254));
}

TEST(VersionInfo, TranslationShorterThanOnePairMeansLanguageZero) {
  for (const char* translation : {"0409", "", "04090XYZ"}) {
    const FakeSource source(
        Records({"MORVANE-VERSION=1", std::string("\\VarFileInfo\\Translation=") + translation,
                 "\\StringFileInfo\\00000000\\ProductName=Neutral"}),
        0);
    const TProgramVersionInfo info(source);
    EXPECT_EQ(info.TranslationKey(), "00000000") << translation;
    EXPECT_EQ(info.GetVersionString(0), "Language Neutral");
    EXPECT_EQ(info.GetVersionString(8), "Neutral");
  }
}

TEST(VersionInfo, NoVersionDataGivesEmptyStringsAndAMessage) {
  const FakeSource source(std::nullopt, ENODATA);
  ::testing::internal::CaptureStderr();
  const TProgramVersionInfo info(source);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "GetFileVersionInfoSize error #:" + std::to_string(ENODATA) + "\n");
  for (unsigned s = 1; s <= 10; ++s) EXPECT_EQ(info.GetVersionString(s), "") << s;

  // Data that is not version records is treated as none.
  const FakeSource garbage(std::string("ProductName=x"), 0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(TProgramVersionInfo(garbage).GetVersionString(8), "");
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("GetFileVersionInfoSize error #:"),
            std::string::npos);
}

TEST(VersionInfo, TestProgramHasNoVersionSection) {
  // The test program is built without version strings, like any executable
  // that does not ask for them.
  int error = 0;
  EXPECT_FALSE(ElfVersionSource().Read(&error).has_value());
  EXPECT_EQ(error, ENODATA);
  ::testing::internal::CaptureStderr();
  const TProgramVersionInfo info;
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "GetFileVersionInfoSize error #:" + std::to_string(ENODATA) + "\n");
  EXPECT_EQ(info.GetVersionString(8), "");
}

// A minimal 64-bit ELF file: header, a names table and the version section.
std::string MinimalElf(const std::string& section_name, const std::string& payload) {
  const std::string names = std::string("\0.shstrtab\0", 11) + section_name + '\0';
  Elf64_Ehdr eh{};
  std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
  eh.e_ident[EI_CLASS] = ELFCLASS64;
  eh.e_ident[EI_DATA] = ELFDATA2LSB;
  eh.e_ident[EI_VERSION] = EV_CURRENT;
  eh.e_type = ET_EXEC;
  eh.e_machine = EM_X86_64;
  eh.e_version = EV_CURRENT;
  eh.e_ehsize = sizeof(Elf64_Ehdr);
  eh.e_shentsize = sizeof(Elf64_Shdr);
  eh.e_shnum = 3;
  eh.e_shstrndx = 1;
  const uint64_t names_off = sizeof(Elf64_Ehdr);
  const uint64_t payload_off = names_off + names.size();
  eh.e_shoff = payload_off + payload.size();
  Elf64_Shdr sh[3]{};
  sh[1].sh_name = 1;
  sh[1].sh_type = SHT_STRTAB;
  sh[1].sh_offset = names_off;
  sh[1].sh_size = names.size();
  sh[2].sh_name = 11;
  sh[2].sh_type = SHT_PROGBITS;
  sh[2].sh_offset = payload_off;
  sh[2].sh_size = payload.size();
  std::string file(reinterpret_cast<const char*>(&eh), sizeof eh);
  file += names + payload;
  file.append(reinterpret_cast<const char*>(sh), sizeof sh);
  return file;
}

TEST(VersionInfo, ElfReaderFindsTheSectionByName) {
  TempDir dir;
  const std::string payload =
      Records({"MORVANE-VERSION=1", "\\VarFileInfo\\Translation=040904E4",
               "\\StringFileInfo\\040904E4\\OriginalFilename=morvane-server"});
  WriteFile(dir / "with", MinimalElf(".morvane_version", payload));
  WriteFile(dir / "other", MinimalElf(".morvane_versions", payload));
  WriteFile(dir / "text", "not an ELF file at all");

  int error = -1;
  const std::optional<std::string> data = ElfVersionSource((dir / "with").string()).Read(&error);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(*data, payload);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(TProgramVersionInfo(ElfVersionSource((dir / "with").string())).GetVersionString(7),
            "morvane-server");

  EXPECT_FALSE(ElfVersionSource((dir / "other").string()).Read(&error));
  EXPECT_EQ(error, ENODATA);
  EXPECT_FALSE(ElfVersionSource((dir / "text").string()).Read(&error));
  EXPECT_EQ(error, ENOEXEC);
  EXPECT_FALSE(ElfVersionSource((dir / "missing").string()).Read(&error));
  EXPECT_EQ(error, ENOENT);
}

}  // namespace
}  // namespace morvane
