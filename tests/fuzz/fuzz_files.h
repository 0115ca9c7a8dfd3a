// Files for the fuzz targets whose parsers read a file: one scratch directory
// per process, removed when the process exits normally.
#ifndef MORVANE_TESTS_FUZZ_FUZZ_FILES_H_
#define MORVANE_TESTS_FUZZ_FUZZ_FILES_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace morvane::fuzz {

// The process's scratch directory, made on first use under $TMPDIR, else
// under /dev/shm when there is one, else /tmp. The targets write a file per
// input; on a disk-backed /tmp that alone can cut their speed tenfold.
// Aborts when it cannot be made: nothing can be fuzzed without it.
inline const std::filesystem::path& ScratchDir() {
  // Never destroyed, so that the removal at exit still finds the name.
  static const std::filesystem::path* const dir = [] {
    std::error_code ec;
    std::filesystem::path base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
      base = tmp;
    } else if (std::filesystem::is_directory("/dev/shm", ec)) {
      base = "/dev/shm";
    }
    std::string pattern = (base / "morvane-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("morvane fuzz: cannot make a scratch directory");
      std::abort();
    }
    return new std::filesystem::path(pattern);
  }();
  static const bool removed_at_exit = std::atexit([] {
                                        std::error_code ignored;
                                        std::filesystem::remove_all(*dir, ignored);
                                      }) == 0;
  static_cast<void>(removed_at_exit);
  return *dir;
}

// Writes `size` bytes to `path`, replacing it; aborts when it cannot.
inline void WriteBytes(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  WriteBytes(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace morvane::fuzz

#endif  // MORVANE_TESTS_FUZZ_FUZZ_FILES_H_
