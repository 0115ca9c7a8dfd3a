// TField and TParam: the values of one row and of one statement parameter.
#include <charconv>
#include <cmath>

#include "data/driver.h"
#include "data/engine.h"
#include "data/store_text.h"
#include "records/number_text.h"
#include "support/ascii_text.h"

namespace morvane::db {
namespace {

// `text` as a number of type T: blanks and tabs around it and one leading '+'
// are allowed, nothing else. EConvertError "'<text>' is not a valid <what>
// value for field '<field>'" otherwise.
template <typename T>
T ParseNumber(const std::string& field, std::string_view text, const char* what) {
  const std::string_view t = TrimBlanks(text);
  T v = 0;
  const char* begin = t.data();
  if (!t.empty() && t.front() == '+') ++begin;
  const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
    throw EConvertError("'" + std::string(text) + "' is not a valid " + what +
                        " value for field '" + field + "'");
  }
  return v;
}

}  // namespace

double TField::AsFloat() const {
  if (null_) return 0;
  switch (type_) {
    case FieldType::kInteger:
      return static_cast<double>(int_);
    case FieldType::kText:
    case FieldType::kUnknown:
      return ParseNumber<double>(name_, text_, "floating point");
    default:
      return num_;
  }
}

int64_t TField::AsLargeInt() const {
  if (null_) return 0;
  switch (type_) {
    case FieldType::kInteger:
      return int_;
    case FieldType::kText:
    case FieldType::kUnknown:
      return ParseNumber<int64_t>(name_, text_, "integer");
    default:
      // Ties go to the even neighbour (2.5 is 2, 3.5 is 4), the rounding the
      // stores' readers apply to sizes and volumes.
      return std::llrint(num_);
  }
}

int32_t TField::AsInteger() const {
  const int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) {
    throw EConvertError("Value of field '" + name_ + "' does not fit an integer");
  }
  return static_cast<int32_t>(v);
}

TDateTime TField::AsDateTime() const {
  if (null_) return 0;
  switch (type_) {
    case FieldType::kInteger:
      return static_cast<double>(int_);
    case FieldType::kText:
    case FieldType::kUnknown: {
      TDateTime v = 0;
      if (ParseStoreDateTime(text_, &v)) return v;
      if (auto d = ParseShortDate(text_, 0)) return *d;
      throw EConvertError("'" + text_ + "' is not a valid date and time for field '" + name_ + "'");
    }
    default:
      return num_;
  }
}

void TField::AppendText(std::string* out) const {
  if (null_) return;
  char buf[kNumberTextCapacity];
  char* end = buf;
  switch (type_) {
    case FieldType::kText:
    case FieldType::kUnknown:
      out->append(text_);
      return;
    case FieldType::kInteger:
      end = std::to_chars(buf, buf + sizeof buf, int_).ptr;
      break;
    case FieldType::kFloat:
      // The one stored text form of a floating value, the same as a record's
      // floating column (RecordWriter::StoredFloat).
      end = FormatStoredFloat(buf, num_);
      break;
    case FieldType::kDate:
      end = FormatShortDate(buf, num_);
      break;
    case FieldType::kTime:
      end = FormatHms(buf, num_);
      break;
    case FieldType::kDateTime:
      end = FormatShortDateTime(buf, num_);
      break;
  }
  out->append(buf, static_cast<size_t>(end - buf));
}

std::string TField::AsString() const {
  std::string s;
  AppendText(&s);
  return s;
}

void TParam::SetAsString(std::string_view v) {
  // A parameter bound row after row keeps its text buffer.
  if (auto* text = std::get_if<std::string>(&value_)) {
    text->assign(v.data(), v.size());
  } else {
    value_.emplace<std::string>(v);
  }
}

void TParam::SetAsInteger(int64_t v) {
  value_.emplace<int64_t>(v);
}

void TParam::SetAsFloat(double v) {
  value_.emplace<3>(v);  // the plain float, not the TDateTime alternative
}

void TParam::SetAsDateTime(TDateTime v) {
  value_.emplace<kDateTimeIndex>(v);
}

void TParam::Clear() {
  value_.emplace<std::monostate>();
}

TParam* FindParam(std::vector<TParam>& params, std::string_view name) {
  for (TParam& p : params) {
    if (EqualsIgnoringCase(p.Name(), name)) return &p;
  }
  return nullptr;
}

}  // namespace morvane::db
