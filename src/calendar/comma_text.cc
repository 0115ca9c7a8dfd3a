#include "calendar/comma_text.h"

namespace morvane {
namespace {

// Control characters and the blank separate items like a comma does.
bool IsSpace(char c) {
  return c != '\0' && static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

std::vector<std::string> SplitCommaText(std::string_view text) {
  std::vector<std::string> items;
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto skip_spaces = [&] {
    while (i < n && IsSpace(text[i])) {
      ++i;
    }
  };
  skip_spaces();
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
    } else {
      const std::size_t start = i;
      while (i < n && !IsSpace(text[i]) && text[i] != ',') {
        ++i;
      }
      item.assign(text.substr(start, i - start));
    }
    items.push_back(std::move(item));
    skip_spaces();
    if (i < n && text[i] == ',') {
      if (i + 1 == n) {
        items.emplace_back();  // a trailing comma ends an empty item
      }
      ++i;
      skip_spaces();
    }
  }
  return items;
}

std::string JoinCommaText(const std::vector<std::string_view>& items) {
  std::string text;
  for (std::size_t k = 0; k < items.size(); ++k) {
    if (k > 0) text += ',';
    const std::string_view item = items[k];
    bool quote = item.empty();
    for (char c : item) {
      if (IsSpace(c) || c == ',' || c == '"') quote = true;
    }
    if (!quote) {
      text += item;
      continue;
    }
    text += '"';
    for (char c : item) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

}  // namespace morvane
