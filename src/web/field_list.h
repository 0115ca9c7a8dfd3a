// Request fields: the name=value list of a query string or a form body, and
// the two routines that build it.
//
// A request's fields are kept as the texts the client sent, decoded, in the
// order it sent them ("name=value" each). Look-up by name is what the
// request handler uses: the first entry whose name matches ignoring letter
// case wins, so a client that repeats a field cannot override the first one,
// and an entry without "=" has no name and is never found.
#ifndef MORVANE_WEB_FIELD_LIST_H_
#define MORVANE_WEB_FIELD_LIST_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// An ordered list of "name=value" texts. Not safe for concurrent mutation;
// const use from several threads is safe.
class FieldList {
 public:
  void Add(std::string entry) { entries_.push_back(std::move(entry)); }
  void Clear() { entries_.clear(); }
  size_t Count() const { return entries_.size(); }
  const std::string& operator[](size_t i) const { return entries_[i]; }

  // The index of the first entry whose name (the text before its first "=")
  // equals `name` ignoring ASCII letter case; -1 when none does. An entry
  // without "=" has no name.
  int IndexOfName(std::string_view name) const;

  // The text after the first "=" of the entry IndexOfName finds, or an empty
  // text when there is none. A field present with an empty value and an
  // absent field therefore both give "".
  std::string Values(std::string_view name) const;

 private:
  std::vector<std::string> entries_;
};

// Decodes one field's text: "+" becomes a blank, "%%" a single "%", and "%"
// followed by two hexadecimal digits the byte they spell. Raises
// EConvertError when a "%" is followed by anything else, including the end
// of the text after fewer than two characters.
std::string HTTPDecode(std::string_view text);

// Splits `content` into fields and appends each non-empty one, decoded with
// HTTPDecode, to `fields`:
//   - "&" ends a field; so do CR and LF, which are also skipped at the start
//     of a field (a body typed by hand often ends in a line break);
//   - a double quote opens a stretch up to the next double quote (or the end
//     of the text) in which "&", CR and LF do not end the field; the quotes
//     stay in the field text.
// Splitting looks at the raw text, so an encoded "%26" or "%22" never splits
// or quotes. Raises EConvertError (from HTTPDecode) on a malformed escape;
// the fields before it have been appended by then.
void ExtractHeaderFields(std::string_view content, FieldList& fields);

}  // namespace morvane

#endif  // MORVANE_WEB_FIELD_LIST_H_
