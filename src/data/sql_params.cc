#include "data/sql_params.h"

#include "support/ascii_text.h"

namespace morvane::db {
namespace {

bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9');
}

// The end of the quoted run starting at `i` (the opening quote); a doubled
// quote inside stands for the quote itself.
size_t SkipQuoted(std::string_view s, size_t i) {
  const char q = s[i];
  for (++i; i < s.size(); ++i) {
    if (s[i] != q) continue;
    if (i + 1 < s.size() && s[i + 1] == q) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return s.size();
}

}  // namespace

TranslatedSql TranslateParams(std::string_view sql, char prefix) {
  TranslatedSql out;
  out.text.reserve(sql.size() + 8);
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    size_t next = i + 1;
    if (c == '\'' || c == '"') {
      next = SkipQuoted(sql, i);
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      next = sql.find('\n', i);
      if (next == std::string_view::npos) next = sql.size();
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      next = sql.find("*/", i + 2);
      next = next == std::string_view::npos ? sql.size() : next + 2;
    } else if (c == ':' && i + 1 < sql.size() && sql[i + 1] == ':') {
      next = i + 2;  // a PostgreSQL cast
    } else if (c == ':' && i + 1 < sql.size() && IsNameStart(sql[i + 1]) &&
               (i == 0 || !IsNameChar(sql[i - 1]))) {
      size_t end = i + 1;
      while (end < sql.size() && IsNameChar(sql[end])) ++end;
      const std::string_view name = sql.substr(i + 1, end - i - 1);
      size_t number = 0;
      while (number < out.names.size() && !EqualsIgnoringCase(out.names[number], name)) ++number;
      if (number == out.names.size()) out.names.emplace_back(name);
      out.text += prefix;
      out.text += std::to_string(number + 1);
      i = end;
      continue;
    }
    out.text.append(sql.substr(i, next - i));
    i = next;
  }
  return out;
}

}  // namespace morvane::db
