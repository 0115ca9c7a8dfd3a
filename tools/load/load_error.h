// The loader's own failure: a file that cannot be loaded as it stands.
//
// The message is complete as it is meant for the user, usually
// "FILE:LINE: what is wrong". The command turns it into exit status 1.
#ifndef MORVANE_TOOLS_LOAD_LOAD_ERROR_H_
#define MORVANE_TOOLS_LOAD_LOAD_ERROR_H_

#include "support/error.h"

namespace morvane::load {

class LoadError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "LoadError"; }
};

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_LOAD_ERROR_H_
