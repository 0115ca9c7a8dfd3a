// TCopyRows: rows gathered in PostgreSQL's COPY text form.
#include <charconv>

#include "data/engine.h"

namespace morvane::db {

void TCopyRows::Separate() {
  if (!at_row_start_) text_ += '\t';
  at_row_start_ = false;
}

void TCopyRows::Text(std::string_view v) {
  Separate();
  for (const char c : v) {
    switch (c) {
      case '\\':
        text_ += "\\\\";
        break;
      case '\t':
        text_ += "\\t";
        break;
      case '\n':
        text_ += "\\n";
        break;
      case '\r':
        text_ += "\\r";
        break;
      default:
        text_ += c;
    }
  }
}

void TCopyRows::Float(double v) {
  Separate();
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof(buf), v);
  text_.append(buf, r.ptr);
}

void TCopyRows::Null() {
  Separate();
  text_ += "\\N";
}

void TCopyRows::EndRow() {
  text_ += '\n';
  ++rows_;
  at_row_start_ = true;
}

}  // namespace morvane::db
