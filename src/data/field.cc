// TField and TParam: the values of one row and of one statement parameter.
#include <charconv>
#include <cmath>

#include "data/engine.h"
#include "data/store_text.h"

namespace morvane::db {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

double TextToFloat(const std::string& field, std::string_view text) {
  const std::string_view t = TrimBlanks(text);
  double v = 0;
  const char* begin = t.data();
  if (!t.empty() && t.front() == '+') ++begin;
  const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
    throw EConvertError("'" + std::string(text) +
                        "' is not a valid floating point value for field '" + field + "'");
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
      return TextToFloat(name_, text_);
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
    case FieldType::kUnknown: {
      const std::string_view t = TrimBlanks(text_);
      int64_t v = 0;
      const char* begin = t.data();
      if (!t.empty() && t.front() == '+') ++begin;
      const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), v);
      if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
        throw EConvertError("'" + text_ + "' is not a valid integer value for field '" + name_ +
                            "'");
      }
      return v;
    }
    default:
      return std::llround(num_);
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
  char buf[32];
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
      end = std::to_chars(buf, buf + sizeof buf, num_, std::chars_format::general, 15).ptr;
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
  value_.emplace<1>(v);
  is_datetime_ = false;
}

void TParam::SetAsInteger(int64_t v) {
  value_.emplace<2>(v);
  is_datetime_ = false;
}

void TParam::SetAsFloat(double v) {
  value_.emplace<3>(v);
  is_datetime_ = false;
}

void TParam::SetAsDateTime(TDateTime v) {
  value_.emplace<4>(v);
  is_datetime_ = true;
}

void TParam::Clear() {
  value_.emplace<0>();
  is_datetime_ = false;
}

}  // namespace morvane::db
