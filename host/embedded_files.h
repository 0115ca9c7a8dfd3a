// Files built into morvane-server: the chart page of the admin listener and
// the chart library it draws with (host/chart/). A CMake step
// (cmake/EmbedFiles.cmake) turns them into a generated source at build
// time, so the server serves them without an install path, and a page
// always matches the server that serves it.
#ifndef MORVANE_HOST_EMBEDDED_FILES_H_
#define MORVANE_HOST_EMBEDDED_FILES_H_

#include <span>
#include <string_view>

namespace morvane::host {

struct EmbeddedFile {
  std::string_view path;          // the URL path it is served at
  std::string_view content_type;  // its Content-Type
  std::string_view body;
};

// Every embedded file, in the order the build lists them; static storage.
std::span<const EmbeddedFile> EmbeddedFiles();

}  // namespace morvane::host

#endif  // MORVANE_HOST_EMBEDDED_FILES_H_
