#include "records/record_writer.h"

#include "records/number_text.h"

namespace morvane {

namespace {

// Enough for the longest record of the answer grammar with long names; a
// longer record grows the buffer once and it stays grown.
constexpr size_t kInitialRecordCapacity = 512;

// Room for any one column written through a stack buffer: a number (see
// number_text.h) or a date-time form (at most 19 characters).
constexpr size_t kColumnCapacity = kNumberTextCapacity;

constexpr std::string_view kErrorKind = "ERROR|";

}  // namespace

RecordWriter::RecordWriter(ResponseSink& sink) : sink_(sink), buffer_(own_buffer_) {
  buffer_.reserve(kInitialRecordCapacity);
}

RecordWriter::RecordWriter(ResponseSink& sink, std::string& buffer) : sink_(sink), buffer_(buffer) {
  buffer_.clear();
  buffer_.reserve(kInitialRecordCapacity);
}

RecordWriter& RecordWriter::Begin(std::string_view kind) {
  buffer_.clear();
  buffer_.append(kind);
  return *this;
}

RecordWriter& RecordWriter::Int(int64_t v) {
  char text[kColumnCapacity];
  Separator();
  buffer_.append(text, FormatInt(text, v));
  return *this;
}

RecordWriter& RecordWriter::Fixed(double v, int decimals) {
  char text[kColumnCapacity];
  Separator();
  buffer_.append(text, FormatFixed(text, v, decimals));
  return *this;
}

RecordWriter& RecordWriter::Fixed2(double v) {
  return Fixed(v, 2);
}

RecordWriter& RecordWriter::Fixed3(double v) {
  return Fixed(v, 3);
}

RecordWriter& RecordWriter::Text(std::string_view s) {
  Separator();
  buffer_.append(s);
  return *this;
}

RecordWriter& RecordWriter::Empty() {
  Separator();
  return *this;
}

RecordWriter& RecordWriter::StoredFloat(double v) {
  char text[kColumnCapacity];
  Separator();
  buffer_.append(text, FormatStoredFloat(text, v));
  return *this;
}

RecordWriter& RecordWriter::Ymd(TDateTime v) {
  char text[kColumnCapacity];
  Separator();
  buffer_.append(text, FormatYmdSlashed(text, v));
  return *this;
}

RecordWriter& RecordWriter::Hms(TDateTime v) {
  char text[kColumnCapacity];
  Separator();
  buffer_.append(text, FormatHms(text, v));
  return *this;
}

RecordWriter& RecordWriter::ShortDate(TDateTime v) {
  char text[kColumnCapacity];
  Separator();
  buffer_.append(text, FormatShortDate(text, v));
  return *this;
}

RecordWriter& RecordWriter::ShortDateTime(TDateTime v) {
  char text[kColumnCapacity];
  Separator();
  buffer_.append(text, FormatShortDateTime(text, v));
  return *this;
}

void RecordWriter::End() {
  buffer_.append("|\r\n");
  const bool written = sink_.WriteBytes(buffer_.data(), buffer_.size());
  if (written) sink_.CountRecords(1, buffer_.starts_with(kErrorKind) ? 1 : 0);
  buffer_.clear();
  if (!written) throw EClientGone();
}

void RecordWriter::WriteRecordCount(int64_t n) {
  buffer_.clear();
  char text[64] = "NOTE|RECORDCOUNT|";
  char* end = FormatInt(text + 17, n);
  *end++ = '|';
  *end++ = '\r';
  *end++ = '\n';
  if (!sink_.WriteBytes(text, static_cast<size_t>(end - text))) throw EClientGone();
  sink_.CountRecords(1, 0);
}

void SendErrorMsg(std::string_view msg, ResponseSink& sink) {
  // One piece, so the message and its line end can never be split apart by
  // anything written in between. Error messages are short; the stack buffer
  // covers them and a longer one goes out through a temporary.
  char text[512];
  if (msg.size() + 2 <= sizeof(text)) {
    msg.copy(text, msg.size());
    text[msg.size()] = '\r';
    text[msg.size() + 1] = '\n';
    sink.WriteBytes(text, msg.size() + 2);
  } else {
    std::string line(msg);
    line += "\r\n";
    sink.WriteBytes(line.data(), line.size());
  }
  sink.CountRecords(1, msg.starts_with(kErrorKind) ? 1 : 0);
}

void WriteBareRecordNotFound(ResponseSink& sink) {
  sink.Write(kErrRecordNotFound);
  sink.CountRecords(1, 1);
}

void RecordWriter::WriteBareRecordNotFound() {
  morvane::WriteBareRecordNotFound(sink_);
}

}  // namespace morvane
