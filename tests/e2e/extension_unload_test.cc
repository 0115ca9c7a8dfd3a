// Loading and unloading the extension library as a host does, twice, with
// settings texts long enough to live on the heap: unloading must not touch
// memory that another file's globals have already released (run under
// AddressSanitizer this fails on any such write).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

#include "support/test_env.h"
#include "unit/web/fake_host.h"
#include "web/extension_abi.h"

namespace morvane::testing {
namespace {

template <typename Fn>
Fn Entry(void* handle, const char* name) {
  void* symbol = dlsym(handle, name);
  Fn fn = nullptr;
  static_assert(sizeof(fn) == sizeof(symbol));
  __builtin_memcpy(&fn, &symbol, sizeof(fn));
  return fn;
}

// Under AddressSanitizer the library stays mapped after dlclose, as the host
// keeps it: its static destructors then run at exit, where a write to freed
// memory is still caught, and its intentionally leaked objects stay visible.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKeepMapped = RTLD_NODELETE;
#else
constexpr int kKeepMapped = 0;
#endif

TEST(ExtensionUnload, LoadServeAndUnloadTwiceWithLongSettingsTexts) {
  const std::string library = (BuildDir() / "libmorvane.so").string();
  TempDir dir;
  const ScopedCwd cwd(dir.path());
  const std::string long_text = "a-value-well-beyond-fifteen-bytes";
  WriteFile(dir / "oms.ini", "[OMS_DATABASE]\nDSN_source=" + long_text + "\nDSN_user=" + long_text +
                                 "\nDSN_password=" + long_text + "\n");
  WriteFile(dir / "aliases.ini", "[" + long_text + "]\nDRIVER=SQLITE\nPATH=missing.db\n");
  const ScopedEnv aliases("MORVANE_ALIASES", (dir / "aliases.ini").c_str());
  const ScopedEnv log("MORVANE_LOG", (dir / "morvane.log").c_str());

  for (int cycle = 0; cycle < 2; ++cycle) {
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL | kKeepMapped);
    ASSERT_NE(handle, nullptr) << dlerror();
    HSE_VERSION_INFO version{};
    EXPECT_EQ(Entry<PFN_GETEXTENSIONVERSION>(handle, HSE_GET_EXTENSION_VERSION_SYMBOL)(&version),
              1);
    // One request makes a data module, which reads the long texts. It runs on
    // a thread of its own, as a host's worker would: the library's
    // thread-local values then live and die with that thread.
    FakeHost host("GET", "symbol=0005&mode=7");
    uint32_t status = 0;
    std::thread worker([&] {
      status = Entry<PFN_HTTPEXTENSIONPROC>(handle, HSE_HTTP_EXTENSION_PROC_SYMBOL)(host.ecb());
    });
    worker.join();
    EXPECT_EQ(status, HSE_STATUS_SUCCESS);
    EXPECT_EQ(
        Entry<PFN_TERMINATEEXTENSION>(handle, HSE_TERMINATE_EXTENSION_SYMBOL)(HSE_TERM_MUST_UNLOAD),
        1);
    EXPECT_EQ(dlclose(handle), 0);
  }
  EXPECT_NE(ReadFile(dir / "morvane.log").find("Cannot connect to database "), std::string::npos);
}

}  // namespace
}  // namespace morvane::testing
