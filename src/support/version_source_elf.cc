// Reading the version section out of an ELF file's section headers.
#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "support/version_info.h"

namespace morvane {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool ReadAt(int fd, void* out, std::size_t size, uint64_t offset) {
  auto* p = static_cast<char*>(out);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

template <typename T>
T Swap(T v, bool swap) {
  if (!swap) {
    return v;
  }
  if constexpr (sizeof(T) == 2) {
    return static_cast<T>(__builtin_bswap16(v));
  }
  if constexpr (sizeof(T) == 4) {
    return static_cast<T>(__builtin_bswap32(v));
  }
  if constexpr (sizeof(T) == 8) {
    return static_cast<T>(__builtin_bswap64(v));
  }
  return v;
}

// Sections larger than this are not ours: a corrupt header must not make the
// reader allocate gigabytes.
constexpr uint64_t kMaxSectionBytes = 1u << 20;

template <typename Ehdr, typename Shdr>
std::optional<std::string> ReadSection(int fd, bool swap, int* error) {
  Ehdr eh{};
  if (!ReadAt(fd, &eh, sizeof eh, 0)) {
    *error = EIO;
    return std::nullopt;
  }
  const uint64_t shoff = Swap(eh.e_shoff, swap);
  const uint16_t shentsize = Swap(eh.e_shentsize, swap);
  uint64_t shnum = Swap(eh.e_shnum, swap);
  uint32_t shstrndx = Swap(eh.e_shstrndx, swap);
  *error = ENODATA;
  if (shoff == 0 || shentsize < sizeof(Shdr)) {
    return std::nullopt;
  }
  // Files with very many sections keep the real counts in section 0.
  Shdr first{};
  if (!ReadAt(fd, &first, sizeof first, shoff)) {
    return std::nullopt;
  }
  if (shnum == 0) {
    shnum = Swap(first.sh_size, swap);
  }
  if (shstrndx == SHN_XINDEX) {
    shstrndx = Swap(first.sh_link, swap);
  }
  if (shstrndx >= shnum || shnum > (uint64_t{1} << 20)) {
    return std::nullopt;
  }

  Shdr names{};
  if (!ReadAt(fd, &names, sizeof names, shoff + uint64_t{shstrndx} * shentsize)) {
    return std::nullopt;
  }
  const uint64_t names_off = Swap(names.sh_offset, swap);
  const uint64_t names_size = Swap(names.sh_size, swap);
  char wanted[kVersionSectionName.size() + 1];
  for (uint64_t i = 1; i < shnum; ++i) {
    Shdr sh{};
    if (!ReadAt(fd, &sh, sizeof sh, shoff + i * shentsize)) {
      return std::nullopt;
    }
    const uint32_t name = Swap(sh.sh_name, swap);
    if (name + sizeof wanted > names_size) {
      continue;
    }
    if (!ReadAt(fd, wanted, sizeof wanted, names_off + name)) {
      continue;
    }
    if (std::memcmp(wanted, kVersionSectionName.data(), kVersionSectionName.size()) != 0 ||
        wanted[kVersionSectionName.size()] != '\0') {
      continue;
    }
    const uint64_t size = Swap(sh.sh_size, swap);
    if (Swap(sh.sh_type, swap) == SHT_NOBITS || size > kMaxSectionBytes) {
      return std::nullopt;
    }
    std::string data(size, '\0');
    if (!ReadAt(fd, data.data(), size, Swap(sh.sh_offset, swap))) {
      return std::nullopt;
    }
    *error = 0;
    return data;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ElfVersionSource::Read(int* error_code) const {
  int dummy = 0;
  int* error = error_code != nullptr ? error_code : &dummy;
  const Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = errno;
    return std::nullopt;
  }
  unsigned char ident[EI_NIDENT];
  if (!ReadAt(fd.get(), ident, sizeof ident, 0) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) {
    *error = ENOEXEC;
    return std::nullopt;
  }
  const bool little = ident[EI_DATA] == ELFDATA2LSB;
  const bool swap = little != (std::endian::native == std::endian::little);
  if (ident[EI_CLASS] == ELFCLASS64) {
    return ReadSection<Elf64_Ehdr, Elf64_Shdr>(fd.get(), swap, error);
  }
  if (ident[EI_CLASS] == ELFCLASS32) {
    return ReadSection<Elf32_Ehdr, Elf32_Shdr>(fd.get(), swap, error);
  }
  *error = ENOEXEC;
  return std::nullopt;
}

}  // namespace morvane
