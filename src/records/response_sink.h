// Where the bytes of an answer's body go.
//
// The generators, the name notes and the error records write through this
// interface; the request frame binds it to the real response (which hands the
// bytes to the host through WriteClient), and tests bind it to a string.
#ifndef MORVANE_RECORDS_RESPONSE_SINK_H_
#define MORVANE_RECORDS_RESPONSE_SINK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/error.h"

namespace morvane {

class ResponseSink {
 public:
  virtual ~ResponseSink() = default;
  // Writes `n` bytes to the client at once, in order after everything written
  // before. Returns false when the client is gone: this write or an earlier
  // one of the same answer failed. Once one has failed, every later write
  // returns false at once and sends nothing: nobody reads the rest.
  virtual bool WriteBytes(const char* data, size_t n) = 0;
  bool Write(std::string_view s) { return WriteBytes(s.data(), s.size()); }

  // The records written here, and of them the error records: counted by
  // the record writers (record_writer.h) as each one goes out, for the
  // request's report. Plain integers: a sink serves one thread.
  uint64_t Records() const { return records_; }
  uint64_t ErrorRecords() const { return error_records_; }
  void CountRecords(uint64_t records, uint64_t error_records) {
    records_ += records;
    error_records_ += error_records;
  }

 private:
  uint64_t records_ = 0;
  uint64_t error_records_ = 0;
};

// Raised by the record writer when the client of the answer is gone, so that
// a generator stops at its next record instead of forming the rest of a
// history that nobody reads (and keeping its data module from everyone else
// meanwhile). The request handler ends the request quietly on it; it is not a
// failure of the store.
class EClientGone : public Exception {
 public:
  EClientGone() : Exception("The client has gone away") {}
  const char* ClassName() const noexcept override { return "EClientGone"; }
};

// A sink that keeps everything written, for tests and small tools.
class StringSink final : public ResponseSink {
 public:
  bool WriteBytes(const char* data, size_t n) override {
    body_.append(data, n);
    ++writes_;
    return true;
  }
  const std::string& Body() const { return body_; }
  size_t Writes() const { return writes_; }

 private:
  std::string body_;
  size_t writes_ = 0;
};

}  // namespace morvane

#endif  // MORVANE_RECORDS_RESPONSE_SINK_H_
