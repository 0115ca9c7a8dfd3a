#include "support/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <map>
#include <thread>
#include <vector>

#include "support/clock.h"
#include "support/error.h"
#include "support/test_env.h"
#include "support/version_info.h"

namespace morvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ScopedClock {
 public:
  explicit ScopedClock(TDateTime at) : clock_(at) { SetClockForTesting(&clock_); }
  ~ScopedClock() { SetClockForTesting(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  FrozenClock clock_;
};

// Sets a file's modification time to a local date and time.
void SetLocalMtime(const std::string& path, int y, int mo, int d, int h, int mi) {
  tm local{};
  local.tm_year = y - 1900;
  local.tm_mon = mo - 1;
  local.tm_mday = d;
  local.tm_hour = h;
  local.tm_min = mi;
  local.tm_isdst = -1;
  const timespec times[2] = {{mktime(&local), 0}, {mktime(&local), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class StaticVersion final : public VersionSource {
 public:
  explicit StaticVersion(std::initializer_list<std::string> strings) {
    data_ = std::string("MORVANE-VERSION=1\0\\VarFileInfo\\Translation=040904E4", 52);
    data_ += '\0';
    for (const std::string& s : strings) {
      data_ += "\\StringFileInfo\\040904E4\\" + s;
      data_ += '\0';
    }
  }
  std::string FileName() const override { return "/fake/morvane-server"; }
  std::optional<std::string> Read(int* /*error_code*/) const override { return data_; }

 private:
  std::string data_;
};

// The log is process-wide: every test leaves it closed and the stand-ins
// restored.
class Log : public ::testing::Test {
 protected:
  ~Log() override {
    omsLogClose();
    SetVersionSourceForTesting(nullptr);
  }
  std::string path() const { return (dir_ / "KMDL.log").string(); }
  void Open() {
    ::testing::internal::CaptureStderr();  // the test program has no version strings
    omsLogOpen(path());
    ::testing::internal::GetCapturedStderr();
  }

  TempDir dir_;
  ScopedClock clock_{EncodeDateTime({2004, 3, 15}, {10, 0, 0, 0})};
};

TEST_F(Log, LinesAreWrittenVerbatimAfterTheHeader) {
  Open();
  EXPECT_EQ(LogFileName(), path());
  DumpToFile("2004/03/15 10:00:00 =>first");
  DumpToFile("");
  LogLine("two\r\nlines");
  // Each line is on disk when the call returns, before the log is closed.
  EXPECT_EQ(ReadFile(path()), " \r\n2004/03/15 10:00:00 =>first\r\n\r\ntwo\r\nlines\r\n");
  omsLogClose();
  EXPECT_EQ(LogFileName(), "");
  DumpToFile("after close");
  EXPECT_EQ(ReadFile(path()).find("after close"), std::string::npos);
}

TEST_F(Log, HeaderNamesTheProgram) {
  const StaticVersion full({"ProductName=Morvane", "OriginalFilename=morvane-server",
                            "InternalName=morvane-server", "FileVersion=0.1.0",
                            "CompanyName=Morvane Ltd", "LegalCopyright=(C) 2026"});
  SetVersionSourceForTesting(&full);
  omsLogOpen(path());
  omsLogClose();
  EXPECT_EQ(ReadFile(path()), "Morvane(morvane-server) 0.1.0\r\nMorvane Ltd (C) 2026\r\n");

  const StaticVersion sparse({"OriginalFilename=morvane-server", "LegalCopyright=(C) 2026"});
  SetVersionSourceForTesting(&sparse);
  WriteFile(path(), "");
  omsLogOpen(path());
  omsLogClose();
  EXPECT_EQ(ReadFile(path()), "morvane-server \r\n(C) 2026\r\n");
}

TEST_F(Log, SameDayAppendsAndANewDayStartsAfresh) {
  WriteFile(path(), "yesterday's line\r\n");
  SetLocalMtime(path(), 2004, 3, 14, 23, 59);
  Open();
  LogLine("today 1");
  omsLogClose();
  EXPECT_EQ(ReadFile(path()), " \r\ntoday 1\r\n");

  // A second process the same day keeps the first one's lines.
  SetLocalMtime(path(), 2004, 3, 15, 0, 1);
  Open();
  LogLine("today 2");
  omsLogClose();
  EXPECT_EQ(ReadFile(path()), " \r\ntoday 1\r\n \r\ntoday 2\r\n");

  // Only the day counts: a later mtime of another day also starts afresh.
  SetLocalMtime(path(), 2004, 3, 16, 0, 0);
  Open();
  omsLogClose();
  EXPECT_EQ(ReadFile(path()), " \r\n");
}

TEST_F(Log, MissingDirectoryMeansNoLogAndNoError) {
  const std::string missing = (dir_ / "no" / "such" / "KMDL.log").string();
  EXPECT_THROW(omsLogOpenFile(missing), EInOutError);
  EXPECT_NO_THROW(omsLogOpen(missing));
  EXPECT_EQ(LogFileName(), "");
  EXPECT_NO_THROW(DumpToFile("lost"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no"));

  // The environment variable moves the log; InitialLock opens it there.
  const testing::ScopedEnv env("MORVANE_LOG", path().c_str());
  EXPECT_EQ(LogPath(), path());
  ::testing::internal::CaptureStderr();
  InitialLock();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(LogFileName(), path());
}

TEST_F(Log, ConcurrentWritersNeverSplitALine) {
  Open();
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        // Lengths vary so that a torn write cannot line up by chance.
        LogLine("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                std::string(static_cast<std::size_t>(1 + (i * 37 + t * 11) % 900), 'a' + t));
      }
    });
  }
  for (std::thread& th : threads) th.join();
  omsLogClose();

  const std::string text = ReadFile(path());
  std::map<int, int> next_line;             // per thread, lines must arrive in order
  std::size_t pos = text.find("\r\n") + 2;  // after the header
  int count = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(pos, end - pos);
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line.substr(0, 40);
    ASSERT_EQ(i, next_line[t]++);
    const std::string expected =
        "thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
        std::string(static_cast<std::size_t>(1 + (i * 37 + t * 11) % 900), 'a' + t);
    ASSERT_EQ(line, expected);
    ++count;
    pos = end + 2;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace morvane
