#include "support/ini_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "support/file_watch.h"
#include "support/ini_file_cache.h"

#include "support/test_env.h"

namespace morvane {
namespace {

using testing::TempDir;
using testing::WriteFile;

TEST(IniFile, EmptyValueIsNotTheDefaultButAbsenceIs) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[MORVANE]\nDBUSER=\nDBPASSWORD=secret\n[OTHER]\nCalcMode=UW\n");
  const TIniFile ini((dir / "a.ini").string());
  EXPECT_EQ(ini.ReadString("MORVANE", "DBUSER", "sa"), "");
  EXPECT_EQ(ini.ReadString("MORVANE", "DBPASSWORD", ""), "secret");
  EXPECT_EQ(ini.ReadString("MORVANE", "CalcMode", "DC"), "DC");  // only in another section
  EXPECT_EQ(ini.ReadString("NOSUCH", "DBUSER", "sa"), "sa");

  const TIniFile missing((dir / "missing.ini").string());
  EXPECT_EQ(missing.ReadString("MORVANE", "DBUSER", "sa"), "sa");
  EXPECT_TRUE(missing.ReadSectionValues("MORVANE").empty());
  EXPECT_EQ(missing.FileName(), (dir / "missing.ini").string());
}

TEST(IniFile, NamesMatchIgnoringCaseAndBlanks) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[ Morvane ]\r\n  dbuser = bob  \r\n\tSplitTime\t=\t9:30\r\n");
  const TIniFile ini((dir / "a.ini").string());
  EXPECT_EQ(ini.ReadString("MORVANE", "DBUSER", "sa"), "bob");
  EXPECT_EQ(ini.ReadString("morvane", "splittime", ""), "9:30");
}

TEST(IniFile, QuotesWrappingAValueAreDropped) {
  TempDir dir;
  WriteFile(dir / "a.ini",
            "[S]\nA=\"  padded  \"\nB='single'\nC=\"open\nD=say \"hi\"\nE=\"\"\nF=\"x'\n");
  const TIniFile ini((dir / "a.ini").string());
  EXPECT_EQ(ini.ReadString("S", "A", "-"), "  padded  ");
  EXPECT_EQ(ini.ReadString("S", "B", "-"), "single");
  EXPECT_EQ(ini.ReadString("S", "C", "-"), "\"open");
  EXPECT_EQ(ini.ReadString("S", "D", "-"), "say \"hi\"");
  EXPECT_EQ(ini.ReadString("S", "E", "-"), "");
  EXPECT_EQ(ini.ReadString("S", "F", "-"), "\"x'");
}

TEST(IniFile, ValuesAreCutAt2047Characters) {
  TempDir dir;
  const std::string exact(2047, 'x');
  std::string longer(3000, 'y');
  longer[2046] = 'A';
  longer[2047] = 'B';
  WriteFile(dir / "a.ini", "[S]\nexact=" + exact + "\nlonger=" + longer + "\n");
  const TIniFile ini((dir / "a.ini").string());
  EXPECT_EQ(ini.ReadString("S", "exact", ""), exact);
  const std::string cut = ini.ReadString("S", "longer", "");
  ASSERT_EQ(cut.size(), 2047u);
  EXPECT_EQ(cut.back(), 'A');
  EXPECT_EQ(ini.ReadSectionValues("S")[1], "longer=" + cut);
}

TEST(IniFile, FirstOccurrenceWins) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\nk=first\nK=second\n[T]\nx=1\n[s]\nk=third\nonly=later\n");
  const TIniFile ini((dir / "a.ini").string());
  EXPECT_EQ(ini.ReadString("S", "k", ""), "first");
  // Like the platform reader, a repeated section is not searched.
  EXPECT_EQ(ini.ReadString("S", "only", "default"), "default");
  EXPECT_EQ(ini.ReadSectionValues("S"), (std::vector<std::string>{"k=first"}));
}

TEST(IniFile, SectionValuesInFileOrderSkippingCommentsAndNoise) {
  TempDir dir;
  WriteFile(dir / "a.ini",
            "\xEF\xBB\xBF"
            "stray=before any section\n"
            "[S]\n; a comment=not a key\nzeta=1\nno equals sign here\n=no key\nalpha = two words \n"
            "empty=\n[T]\nother=x");
  const TIniFile ini((dir / "a.ini").string());
  EXPECT_EQ(ini.ReadSectionValues("s"),
            (std::vector<std::string>{"zeta=1", "alpha=two words", "empty="}));
  EXPECT_EQ(ini.ReadString("T", "other", ""), "x");  // last line without a line end
  EXPECT_EQ(ini.ReadString("S", "; a comment", "d"), "d");
}

// An editor that rewrites the file in place truncates it first: a reader
// that comes in between must wait for the writing rather than take the
// empty file for the settings. An empty file that has stayed so is read at
// once.
TEST(IniFile, AFileJustEmptiedInPlaceIsReadOnceWrittenAgain) {
  TempDir dir;
  const std::string path = (dir / "oms.ini").string();
  const std::string text = "[MORVANE]\r\nCalcMode=UW\r\n";
  WriteFile(dir / "oms.ini", text);
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
  });
  const TIniFile during(path);
  writer.join();
  EXPECT_EQ(during.ReadString("MORVANE", "CalcMode", "DC"), "UW");

  WriteFile(dir / "empty.ini", "");
  const auto old = std::chrono::system_clock::now() - std::chrono::seconds(5);
  const timespec times[2] = {{0, UTIME_OMIT}, {std::chrono::system_clock::to_time_t(old), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "empty.ini").c_str(), times, 0), 0);
  const auto start = std::chrono::steady_clock::now();
  const TIniFile empty((dir / "empty.ini").string());
  EXPECT_EQ(empty.ReadString("MORVANE", "CalcMode", "DC"), "DC");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

// The settings cache gives back the file it read while the file stays as it
// was, and reads it afresh after any change, whatever size and modification
// time the change left. A file whose modification or change time is less
// than two seconds old is read again at the next call (its times cannot tell
// a second write within the same clock tick from none). File times are set
// here explicitly; the change time, which only the kernel sets, is waited out
// once.
TEST(IniFileCache, KeptWhileTheFileStaysAsItWas) {
  TempDir dir;
  timespec start{};
  ::clock_gettime(CLOCK_REALTIME, &start);
  const auto set_mtime = [](const std::filesystem::path& p, timespec t) {
    const timespec times[2] = {{0, UTIME_OMIT}, t};
    return ::utimensat(AT_FDCWD, p.c_str(), times, 0);
  };
  const auto mode = [](const std::filesystem::path& p) {
    return ReadIniCached(p.string())->ReadString("MORVANE", "CalcMode", "");
  };
  const auto kept = [](const std::filesystem::path& p) {
    return ReadIniCached(p.string()) == ReadIniCached(p.string());
  };
  const timespec old{start.tv_sec - 3600, 0};
  const auto oms = dir / "oms.ini";
  WriteFile(oms, "[MORVANE]\nCalcMode=UW\n");
  ASSERT_EQ(set_mtime(oms, old), 0);
  // Modified in the future: never settled.
  WriteFile(dir / "future.ini", "[MORVANE]\nCalcMode=UW\n");
  ASSERT_EQ(set_mtime(dir / "future.ini", {start.tv_sec + 3600, 0}), 0);
  // Modified 2.5 s and just under 2 s before the reads below, which come
  // at start + 3.5 s: two whole seconds before them both.
  WriteFile(dir / "settled.ini", "[MORVANE]\nCalcMode=UW\n");
  ASSERT_EQ(set_mtime(dir / "settled.ini", {start.tv_sec + 1, 0}), 0);
  WriteFile(dir / "young.ini", "[MORVANE]\nCalcMode=UW\n");
  ASSERT_EQ(set_mtime(dir / "young.ini", {start.tv_sec + 1, 999'999'999}), 0);

  // Just changed: read on every call.
  EXPECT_FALSE(kept(oms));
  EXPECT_EQ(mode(oms), "UW");

  std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(start.tv_sec + 3) +
                                std::chrono::milliseconds(500));
  EXPECT_TRUE(kept(oms));
  EXPECT_FALSE(kept(dir / "future.ini"));
  const bool settled = kept(dir / "settled.ini");
  const bool young = kept(dir / "young.ini");
  timespec after{};
  ::clock_gettime(CLOCK_REALTIME, &after);
  if (after.tv_sec < start.tv_sec + 4) {  // else this machine was too slow to tell
    EXPECT_TRUE(settled);
    EXPECT_FALSE(young);
  }

  // Edited in place to the same size, its modification time put back.
  WriteFile(oms, "[MORVANE]\nCalcMode=DC\n");
  ASSERT_EQ(set_mtime(oms, old), 0);
  EXPECT_EQ(mode(oms), "DC");
  // Replaced by another file of the same size and times.
  WriteFile(dir / "new.ini", "[MORVANE]\nCalcMode=XY\n");
  ASSERT_EQ(set_mtime(dir / "new.ini", old), 0);
  std::filesystem::rename(dir / "new.ini", oms);
  EXPECT_EQ(mode(oms), "XY");
  // Gone: read as empty, then found again.
  std::filesystem::remove(oms);
  EXPECT_EQ(mode(oms), "");
  WriteFile(oms, "[MORVANE]\nCalcMode=UW\n");
  EXPECT_EQ(mode(oms), "UW");
  // The same within requests: a change complete before a request starts is
  // seen by it, however the kept parse was vouched for.
  ASSERT_EQ(set_mtime(oms, old), 0);
  {
    const RequestScope request;
    EXPECT_EQ(mode(oms), "UW");
  }
  WriteFile(oms, "[MORVANE]\nCalcMode=DC\n");
  ASSERT_EQ(set_mtime(oms, old), 0);
  {
    const RequestScope request;
    EXPECT_EQ(mode(oms), "DC");
  }
  std::filesystem::remove(oms);
  {
    const RequestScope request;
    EXPECT_EQ(mode(oms), "");
  }
}

// What the file watch vouches for, by the kind of change. A symbolic link
// on the way is never watched; a directory on the way replaced makes the
// path's marks stale, and it is watched afresh.
TEST(FileWatch, AChangeCompleteBeforeTheQuestionIsSeen) {
  TempDir dir;
  FileWatch& watch = ProcessFileWatch();
  watch.Refresh();  // what earlier tests left (their directories going)
  std::filesystem::create_directories(dir / "sub");
  const auto file = dir / "sub" / "a.ini";
  WriteFile(file, "x");
  const std::string path = file.string();
  uint64_t content = watch.Mark(path, FileWatch::kContent);
  uint64_t identity = watch.Mark(path, FileWatch::kIdentity);
  if (content == 0) GTEST_SKIP() << "no file watch on this system";
  EXPECT_TRUE(watch.Unchanged(content));
  WriteFile(dir / "sub" / "other.ini", "y");  // another name
  EXPECT_TRUE(watch.Unchanged(content));
  WriteFile(file, "z");  // written in place: the contents, not the identity
  EXPECT_FALSE(watch.Unchanged(content));
  content = watch.Mark(path, FileWatch::kContent);
  identity = watch.Mark(path, FileWatch::kIdentity);
  EXPECT_TRUE(watch.Unchanged(identity));
  std::filesystem::rename(dir / "sub" / "other.ini", file);
  EXPECT_FALSE(watch.Unchanged(identity));
  // Threads asking at once: one of them may drain the event of a change
  // another asks about; whoever asks after the change is complete is told.
  {
    constexpr uint64_t kChanges = 300;
    std::vector<uint64_t> marks(kChanges);
    std::atomic<uint64_t> state{0};  // change number << 1 | whether complete
    std::atomic<bool> stop{false};
    std::atomic<int> missed{0};
    std::vector<std::thread> askers;
    for (int t = 0; t < 3; ++t) {
      askers.emplace_back([&] {
        while (!stop.load()) {
          const uint64_t now = state.load();
          if ((now & 1) != 0 && watch.Unchanged(marks[now >> 1])) ++missed;
        }
      });
    }
    for (uint64_t i = 0; i < kChanges; ++i) {
      marks[i] = watch.Mark(path, FileWatch::kIdentity);
      state.store(i << 1);
      WriteFile(dir / "sub" / "other.ini", "y");
      std::filesystem::rename(dir / "sub" / "other.ini", file);
      state.store(i << 1 | 1);
    }
    stop = true;
    for (std::thread& t : askers) t.join();
    EXPECT_EQ(missed.load(), 0);
  }
  std::filesystem::create_directory_symlink(dir / "sub", dir / "link");
  EXPECT_EQ(watch.Mark((dir / "link" / "a.ini").string(), FileWatch::kIdentity), 0u);
  // A directory on the way moved away and another put in its place: the
  // path is watched afresh, in the new directory.
  identity = watch.Mark(path, FileWatch::kIdentity);
  std::filesystem::rename(dir / "sub", dir / "moved");
  std::filesystem::create_directories(dir / "sub");
  WriteFile(file, "new");
  EXPECT_FALSE(watch.Unchanged(identity));
  identity = watch.Mark(path, FileWatch::kIdentity);
  EXPECT_TRUE(watch.Unchanged(identity));
  WriteFile(dir / "moved" / "a.ini", "old");  // no longer on the way
  WriteFile(dir / "sub" / "other.ini", "y");
  std::filesystem::rename(dir / "sub" / "other.ini", file);
  EXPECT_FALSE(watch.Unchanged(identity));
}

}  // namespace
}  // namespace morvane
