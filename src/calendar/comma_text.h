// Splitting a list value written as comma text, as the holiday file uses it.
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

}  // namespace morvane

#endif  // MORVANE_CALENDAR_COMMA_TEXT_H_
