// The plain way to answer a tick history: seek one product's rows of one
// day table in SQLite through its (Symbol, Time) index, step through every
// row and column, format each row as a tick record with std::to_chars into
// a 64 KiB buffer, and write the buffer to standard output when full. The
// benchmarks compare Morvane's answer with this.
//
// With --step-only, the same rows are stepped through with every column of
// the table read (texts as text, numbers as doubles) and nothing formatted or
// written: the store's own limit, which no answer can beat.
//
//   morvane-raw-tick-read [--step-only] DAY_FILE TABLE SYMBOL TIME_FROM TIME_TO
//
// Prints "ROWS SECONDS" on standard error.
#include <sqlite3.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

class Out {
 public:
  ~Out() { Flush(); }
  void Text(const unsigned char* s, int n) {
    Room(static_cast<size_t>(n) + 1);
    std::memcpy(buf_ + used_, s, static_cast<size_t>(n));
    used_ += static_cast<size_t>(n);
    buf_[used_++] = '|';
  }
  void Number(double v) {
    Room(32);
    const auto r =
        std::to_chars(buf_ + used_, buf_ + sizeof(buf_), v, std::chars_format::general, 15);
    used_ = static_cast<size_t>(r.ptr - buf_);
    buf_[used_++] = '|';
  }
  void Raw(const char* s) {
    const size_t n = std::strlen(s);
    Room(n);
    std::memcpy(buf_ + used_, s, n);
    used_ += n;
  }
  void Flush() {
    size_t at = 0;
    while (at < used_) {
      const ssize_t n = write(1, buf_ + at, used_ - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    used_ = 0;
  }

 private:
  void Room(size_t n) {
    if (used_ + n > sizeof(buf_)) Flush();
  }
  char buf_[64 * 1024];
  size_t used_ = 0;
};

// Every column of every row read, nothing formatted. The sum keeps the
// compiler from dropping the reads.
long StepOnly(sqlite3_stmt* st, double* sum) {
  long rows = 0;
  const int columns = sqlite3_column_count(st);
  while (sqlite3_step(st) == SQLITE_ROW) {
    for (int c = 0; c < columns; ++c) {
      if (sqlite3_column_type(st, c) == SQLITE_TEXT) {
        *sum += sqlite3_column_text(st, c)[0] + sqlite3_column_bytes(st, c);
      } else {
        *sum += sqlite3_column_double(st, c);
      }
    }
    ++rows;
  }
  return rows;
}

long ReadAndFormat(sqlite3_stmt* st) {
  long rows = 0;
  Out out;
  while (sqlite3_step(st) == SQLITE_ROW) {
    out.Raw("TICK|0|");
    out.Text(sqlite3_column_text(st, 0), sqlite3_column_bytes(st, 0));
    out.Text(sqlite3_column_text(st, 1), sqlite3_column_bytes(st, 1));
    for (int c = 2; c < 8; ++c) out.Number(sqlite3_column_double(st, c));
    out.Raw("\r\n");
    ++rows;
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const bool step_only = argc > 1 && std::strcmp(argv[1], "--step-only") == 0;
  if (step_only) {
    --argc;
    ++argv;
  }
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s [--step-only] DAY_FILE TABLE SYMBOL TIME_FROM TIME_TO\n",
                 argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  const std::string sql =
      std::string(step_only ? "SELECT * FROM "
                            : "SELECT Date, Time, Bid, Offer, Price, BidSize, Volume, "
                              "OfferSize FROM ") +
      argv[2] +
      " WHERE Symbol = ?1 COLLATE NOCASE AND Time >= ?2 AND Time <= ?3 "
      "ORDER BY Symbol COLLATE NOCASE, Time";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    return 1;
  }
  sqlite3_bind_text(st, 1, argv[3], -1, SQLITE_STATIC);
  sqlite3_bind_text(st, 2, argv[4], -1, SQLITE_STATIC);
  sqlite3_bind_text(st, 3, argv[5], -1, SQLITE_STATIC);
  double sum = 0;
  const long rows = step_only ? StepOnly(st, &sum) : ReadAndFormat(st);
  sqlite3_finalize(st);
  sqlite3_close(db);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "%ld %.6f\n", rows, seconds);
  if (sum == -1) std::fprintf(stderr, "\n");  // the sum is used
  return 0;
}
