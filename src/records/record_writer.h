// The records of an answer: one line each, kind first, every further field
// after a "|", a closing "|" and CR LF.
//
// A record is formed whole in a buffer the writer reuses for every record
// and handed to the response in one write as soon as it is complete, so the
// client sees each record when it is formed and the hot path neither
// allocates (once the buffer has grown to the longest record) nor makes more
// than one write per record. Field texts are inserted as they are: nothing
// is quoted or escaped, a "|" inside a value is not protected.
//
// A writer serves one response from one thread.
//
//   RecordWriter w(response);
//   w.Begin("TICK").Int(n).ShortDate(day).Hms(time).Fixed2(price).End();
#ifndef MORVANE_RECORDS_RECORD_WRITER_H_
#define MORVANE_RECORDS_RECORD_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "records/response_sink.h"
#include "support/date_time.h"

namespace morvane {

// The error records the handler and the generators write with SendErrorMsg.
inline constexpr std::string_view kErrInvalidTimeFormat = "ERROR|Invalid time format(yyyy/m/d).|";
inline constexpr std::string_view kErrInvalidDateFormat = "ERROR|Invalid date format(yyyy/m/d).|";
inline constexpr std::string_view kErrInvalidParameterCount =
    "ERROR|Invalid number of parameters.|";
inline constexpr std::string_view kErrNoDataForDate = "ERROR|No data for specified date|";
inline constexpr std::string_view kErrRecordNotFound = "ERROR|Record not found.|";

void SendErrorMsg(std::string_view msg, ResponseSink& sink);

class RecordWriter {
 public:
  // Requires: `sink` outlives the writer.
  explicit RecordWriter(ResponseSink& sink);
  // Forms its records in `buffer`, which a caller keeps from one answer to
  // the next so that no answer allocates its own. Requires: `sink` and
  // `buffer` outlive the writer, and no other writer uses `buffer` meanwhile.
  RecordWriter(ResponseSink& sink, std::string& buffer);
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Starts a record of `kind` ("TICK", "INTERVAL", "NOTE", "ERROR"),
  // dropping any record begun and not ended.
  RecordWriter& Begin(std::string_view kind);

  // One field each, in the column forms of the answer:
  RecordWriter& Int(int64_t v);    // "%d"
  RecordWriter& Fixed2(double v);  // "%f": two decimals
  RecordWriter& Fixed3(double v);  // "%0.*f" with 3: three decimals
  RecordWriter& Fixed(double v, int decimals);
  RecordWriter& Text(std::string_view s);    // "%s": as given
  RecordWriter& Empty();                     // an empty column
  RecordWriter& StoredFloat(double v);       // floating column, stored text form
  RecordWriter& Ymd(TDateTime v);            // "yyyy/mm/dd"
  RecordWriter& Hms(TDateTime v);            // "hh:nn:ss"
  RecordWriter& ShortDate(TDateTime v);      // date column, stored form "yyyy/m/d"
  RecordWriter& ShortDateTime(TDateTime v);  // date-time column, stored form

  // Closes the record with "|" and CR LF and writes it to the sink now.
  // Raises EClientGone when the client is gone (this write or an earlier one
  // failed): the one place every generator passes once per record, so each
  // of them stops at its next record without a check of its own.
  void End();

  // "NOTE|RECORDCOUNT|<n>|" and CR LF, written now. Raises as End.
  void WriteRecordCount(int64_t n);

  // An error record (one of the kErr texts) and CR LF, written now.
  void WriteError(std::string_view msg) { SendErrorMsg(msg, sink_); }
  // "ERROR|Record not found.|" with no line end, written now.
  void WriteBareRecordNotFound();

 private:
  void Separator() { buffer_.push_back('|'); }

  ResponseSink& sink_;
  std::string own_buffer_;
  std::string& buffer_;
};

// Writes `msg` and CR LF to the client as one piece, now.
void SendErrorMsg(std::string_view msg, ResponseSink& sink);

// "ERROR|Record not found.|" with no line end at all: the last bytes of a
// daily-history or delayed-quote answer that found nothing.
void WriteBareRecordNotFound(ResponseSink& sink);

}  // namespace morvane

#endif  // MORVANE_RECORDS_RECORD_WRITER_H_
