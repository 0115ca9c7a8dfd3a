#include "csv_reader.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace morvane::load {
namespace {

constexpr size_t kReadBlock = size_t{1} << 16;

std::string Quoted(std::string_view s) {
  std::string out = "\"";
  out.append(s);
  out += '"';
  return out;
}

}  // namespace

CsvReader::CsvReader(std::string path) : path_(std::move(path)), buf_(kReadBlock) {
  file_ = std::fopen(path_.c_str(), "rb");
  if (file_ == nullptr) {
    throw LoadError(path_ + ": cannot open: " + std::strerror(errno));
  }
  text_.reserve(4096);
}

CsvReader::~CsvReader() {
  if (file_ != nullptr) std::fclose(file_);
}

void CsvReader::Fail(std::string_view what) const {
  throw LoadError(path_ + ":" + std::to_string(record_line_) + ": " + std::string(what));
}

bool CsvReader::Fill() {
  if (eof_) return false;
  end_ = std::fread(buf_.data(), 1, buf_.size(), file_);
  pos_ = 0;
  if (end_ == 0) {
    if (std::ferror(file_)) throw LoadError(path_ + ": read failed: " + std::strerror(errno));
    eof_ = true;
    return false;
  }
  return true;
}

inline int CsvReader::Peek() {
  if (pos_ == end_ && !Fill()) return EOF;
  return static_cast<unsigned char>(buf_[pos_]);
}

inline int CsvReader::Get() {
  if (pos_ == end_ && !Fill()) return EOF;
  return static_cast<unsigned char>(buf_[pos_++]);
}

bool CsvReader::ReadRecord() {
  text_.clear();
  spans_.clear();
  quoted_.clear();
  // Blank lines carry no record; skipping them forgives a trailing empty line.
  for (;;) {
    int c = Peek();
    if (c == EOF) return false;
    if (c == '\n') {
      Get();
      ++line_;
    } else if (c == '\r') {
      Get();
      if (Peek() == '\n') Get();
      ++line_;
    } else {
      break;
    }
  }
  record_line_ = line_;
  for (;;) {
    const size_t start = text_.size();
    bool quoted = false;
    int c = Peek();
    if (c == '"') {
      quoted = true;
      Get();
      for (;;) {
        c = Get();
        if (c == EOF) Fail("a quoted field is not closed before the end of the file");
        if (c == '"') {
          if (Peek() != '"') break;
          Get();
        } else if (c == '\n') {
          ++line_;
        }
        text_.push_back(static_cast<char>(c));
        if (text_.size() > kMaxRecordBytes) Fail("the record is longer than 1 MiB");
      }
      c = Peek();
      if (c != ',' && c != '\n' && c != '\r' && c != EOF) {
        Fail("text follows the closing quote of a field");
      }
    } else {
      // The common case: a plain field ends at the next delimiter in the
      // buffer, so copy it in one piece.
      for (;;) {
        if (pos_ == end_ && !Fill()) break;
        size_t i = pos_;
        while (i < end_) {
          char b = buf_[i];
          if (b == ',' || b == '\n' || b == '\r' || b == '"') break;
          ++i;
        }
        text_.append(buf_.data() + pos_, i - pos_);
        pos_ = i;
        if (text_.size() > kMaxRecordBytes) Fail("the record is longer than 1 MiB");
        if (i < end_) break;
      }
      if (Peek() == '"') Fail("a double quote inside an unquoted field");
    }
    spans_.emplace_back(start, text_.size() - start);
    quoted_.push_back(quoted);
    c = Get();
    if (c == ',') continue;
    if (c == '\r') {
      if (Peek() == '\n') Get();
      ++line_;
    } else if (c == '\n') {
      ++line_;
    }
    break;  // end of line or of file
  }
  fields_.resize(spans_.size());
  for (size_t i = 0; i < spans_.size(); ++i) {
    fields_[i].text = std::string_view(text_.data() + spans_[i].first, spans_[i].second);
    fields_[i].null = spans_[i].second == 0 && !quoted_[i];
  }
  return true;
}

void CsvReader::ReadHeader(const std::vector<std::string_view>& columns) {
  // Spreadsheet programs start UTF-8 files with a byte-order mark.
  if (Peek() == 0xEF) {
    static constexpr unsigned char kBom[] = {0xEF, 0xBB, 0xBF};
    if (end_ - pos_ >= 3 && std::memcmp(buf_.data() + pos_, kBom, 3) == 0) pos_ += 3;
  }
  std::string expected;
  for (auto c : columns) {
    if (!expected.empty()) expected += ',';
    expected.append(c);
  }
  if (!ReadRecord()) {
    record_line_ = 1;
    Fail("the file is empty; expected the header " + expected);
  }
  width_ = fields_.size();
  order_.assign(columns.size(), SIZE_MAX);
  for (size_t f = 0; f < fields_.size(); ++f) {
    bool known = false;
    for (size_t i = 0; i < columns.size(); ++i) {
      if (fields_[f].text != columns[i]) continue;
      if (order_[i] != SIZE_MAX) Fail("column " + Quoted(columns[i]) + " appears twice");
      order_[i] = f;
      known = true;
    }
    if (!known) {
      Fail("unknown column " + Quoted(fields_[f].text) + "; expected the header " + expected);
    }
  }
  for (size_t i = 0; i < columns.size(); ++i) {
    if (order_[i] == SIZE_MAX) {
      Fail("missing column " + Quoted(columns[i]) + "; expected the header " + expected);
    }
  }
}

bool CsvReader::Next() {
  if (!ReadRecord()) return false;
  if (fields_.size() != width_) {
    Fail("expected " + std::to_string(width_) + " fields, found " + std::to_string(fields_.size()));
  }
  return true;
}

}  // namespace morvane::load
