// Escaping of request-derived text for the diagnostic log.
//
// The log is line-oriented and written verbatim, so a request field holding a
// CR LF could forge whole log lines. Text that comes from a request (the
// symbol, field values) goes through LogEscape before it is put into a line;
// the system's own text does not.
#ifndef MORVANE_SUPPORT_LOG_ESCAPE_H_
#define MORVANE_SUPPORT_LOG_ESCAPE_H_

#include <string>
#include <string_view>

namespace morvane {

// `text` with every control character (bytes 0-31 and 127) written as "\xNN"
// (two upper-case hex digits) and every backslash doubled, so that the
// escaped form is unambiguous. Other bytes, UTF-8 included, pass unchanged.
std::string LogEscape(std::string_view text);

}  // namespace morvane

#endif  // MORVANE_SUPPORT_LOG_ESCAPE_H_
