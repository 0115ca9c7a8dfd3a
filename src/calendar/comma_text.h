// Lists written as comma text: the holiday file's list values, and the
// statement text in the diagnostic log.
#ifndef MORVANE_CALENDAR_COMMA_TEXT_H_
#define MORVANE_CALENDAR_COMMA_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// The items of `text`: items are separated by a comma or by blanks (any
// character up to ' '), blanks around items are dropped, and an item in
// double quotes may hold blanks and commas ("" inside quotes stands for one
// quote). Empty items between two commas, and after a trailing comma, are
// kept as "". Text of blanks only gives no items. These are the rules the
// operators' holiday files were written for.
std::vector<std::string> SplitCommaText(std::string_view text);

// The inverse: `items` joined by commas, an item that holds a blank, a
// control character, a comma or a double quote written in double quotes
// (with "" for a quote inside), and an empty item as "". The form a list of
// statement lines takes in the diagnostic log.
std::string JoinCommaText(const std::vector<std::string_view>& items);

}  // namespace morvane

#endif  // MORVANE_CALENDAR_COMMA_TEXT_H_
