#include "extension_loader.h"

#include <dlfcn.h>

namespace morvane::host {

namespace {

// dlsym hands back an object pointer; the entry points are functions. POSIX
// guarantees the conversion works, C++ only lets it through a copy.
template <typename Fn>
Fn Lookup(void* handle, const char* name) {
  void* symbol = dlsym(handle, name);
  Fn fn = nullptr;
  static_assert(sizeof(fn) == sizeof(symbol));
  __builtin_memcpy(&fn, &symbol, sizeof(fn));
  return fn;
}

// Under AddressSanitizer the library stays mapped after dlclose (its static
// destructors then run at exit). The extension keeps a few process-lifetime
// objects on the heap on purpose; once their library is unmapped,
// LeakSanitizer can no longer see the pointers that hold them and reports them
// as leaks, hiding any real one.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKeepMapped = RTLD_NODELETE;
#else
constexpr int kKeepMapped = 0;
#endif

}  // namespace

ExtensionLoader::~ExtensionLoader() {
  Unload();
}

bool ExtensionLoader::Load(const std::string& path, std::string* error) {
  Unload();
  // RTLD_LOCAL: the extension's own symbols stay its own; RTLD_NOW: a
  // missing dependency fails here, not on the first request.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | kKeepMapped);
  if (handle == nullptr) {
    const char* why = dlerror();
    *error = why ? why : ("cannot load " + path);
    return false;
  }
  get_version_ = Lookup<PFN_GETEXTENSIONVERSION>(handle, HSE_GET_EXTENSION_VERSION_SYMBOL);
  proc_ = Lookup<PFN_HTTPEXTENSIONPROC>(handle, HSE_HTTP_EXTENSION_PROC_SYMBOL);
  terminate_ = Lookup<PFN_TERMINATEEXTENSION>(handle, HSE_TERMINATE_EXTENSION_SYMBOL);
  if (get_version_ == nullptr || proc_ == nullptr || terminate_ == nullptr) {
    *error = path +
             " does not export GetExtensionVersion, HttpExtensionProc and "
             "TerminateExtension";
    dlclose(handle);
    get_version_ = nullptr;
    proc_ = nullptr;
    terminate_ = nullptr;
    return false;
  }
  handle_ = handle;
  return true;
}

bool ExtensionLoader::GetVersion(HSE_VERSION_INFO* info) {
  if (get_version_ == nullptr) return false;
  HSE_VERSION_INFO_EX ex{};
  ex.Base.dwExtensionVersion = HSE_VERSION_INFO_EX_SIGNATURE;
  ex.cbSize = sizeof(ex);
  if (get_version_(&ex.Base) == 0) return false;
  *info = ex.Base;
  // A table too small for the two functions is an extension of another
  // build's idea of it: go without.
  services_ = ex.lpServices != nullptr && ex.lpServices->cbSize >= sizeof(HSE_EXTENSION_SERVICES)
                  ? ex.lpServices
                  : nullptr;
  return true;
}

void ExtensionLoader::Terminate() {
  services_ = nullptr;
  if (terminate_ != nullptr) terminate_(HSE_TERM_MUST_UNLOAD);
}

void ExtensionLoader::Unload() {
  if (handle_ == nullptr) return;
  dlclose(handle_);
  handle_ = nullptr;
  services_ = nullptr;
  get_version_ = nullptr;
  proc_ = nullptr;
  terminate_ = nullptr;
}

}  // namespace morvane::host
