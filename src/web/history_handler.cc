#include "web/history_handler.h"

#include <cstdio>

#include "data/day_tables.h"
#include "generators/call_args.h"
#include "generators/history_generators.h"
#include "records/record_writer.h"
#include "support/clock.h"
#include "support/file_watch.h"
#include "support/log.h"
#include "support/log_escape.h"
#include "web/extension_stats.h"
#include "web/hist_web_module.h"
#include "web/history_params.h"
#include "web/request_settings.h"

namespace morvane {
namespace {

// Error messages can carry request text (a field value a conversion refused,
// a symbol a store echoes back), so they are escaped like the request fields.
std::string Escaped(const std::exception& e) {
  return LogEscape(e.what());
}

void LogGeneratorFailure(const std::exception& e, const char* generator, const HistoryParams& p,
                         bool with_interval) {
  std::string line = LogStamp(Now()) + "Exception: " + Escaped(e) + " when " + generator +
                     GeneratorCallArgs(p, p.day_count);
  if (with_interval) line += ",interval[" + std::to_string(p.interval) + "]";
  line += ").";
  LogLine(line);
}

// Mode "1": up to three calls in all while the daily store fails with a
// database error. Each failed attempt closes HistSQLDB so that the next one
// reconnects; the close note records what the close did ("1" when it was
// connected, "2" when it is closed afterwards) and is kept across attempts.
//
// An attempt writes into a buffer of its own, and only a completed attempt's
// records reach the client: a failed attempt's half answer followed by the
// next attempt's whole one would give the client the names twice and two
// contradictory runs of numbered bars. A daily answer holds one row per
// trading day, so the buffer stays small. After three failures the body is
// empty; the failures are in the log.
// Returns false when every attempt failed.
bool RunDailyWithRetry(THistData& m, const HistoryParams& p, const RequestSettings& s,
                       ResponseSink& response) {
  std::string close_note;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    StringSink attempt_body;
    m.SetResponse(&attempt_body);
    RecordWriter out(attempt_body);
    try {
      GenInterday2(m, p, s, out);
      m.SetResponse(&response);
      response.Write(attempt_body.Body());
      response.CountRecords(attempt_body.Records(), attempt_body.ErrorRecords());
      return true;
    } catch (const EDatabaseError& e) {
      m.SetResponse(&response);
      CountStoreError(m, e);
      if (attempt < 3) CountDailyRetry();
      if (m.HistSQLDB.Connected()) close_note += "1";
      m.HistSQLDB.Discard();
      if (!m.HistSQLDB.Connected()) close_note += "2";
      LogLine("Exception: " + Escaped(e) + ". Retry " + std::to_string(attempt) +
              ". Close: " + close_note + ".");
    } catch (...) {
      m.SetResponse(&response);
      throw;
    }
  }
  return false;
}

// The modes that walk the days of the range, one table or query per day,
// walk at most the latest kMaxWalkDays of it (data/day_tables.h). Modes "1"
// and "5" read their range with one statement and keep it whole.
HistoryParams WithBoundedWalk(const HistoryParams& request) {
  HistoryParams p = request;
  if (p.mode == "0" || p.mode == "3" || p.mode == "4" || p.mode == "6") {
    p.date_begin = BoundedWalkBegin(p.date_begin, p.date_end);
  }
  return p;
}

// Runs `generate`, writing its failure to the log as the failure of
// `generator` and setting *failed, instead of letting it end the request. A
// client that is gone is no failure of the generator: that ends the request
// as a whole.
template <typename Generate>
void RunLoggingFailure(THistData& m, Generate&& generate, const char* generator,
                       const HistoryParams& p, bool with_interval, bool* failed) {
  try {
    generate();
  } catch (const EClientGone&) {
    throw;
  } catch (const std::exception& e) {
    LogGeneratorFailure(e, generator, p, with_interval);
    CountStoreError(m, e);
    *failed = true;
  }
}

// Runs the generator of the request's mode. `failed` is set when a
// generator's failure was caught and logged here; `gave_up` when the daily
// history failed every attempt (its links stay as its retries left them).
void Dispatch(THistData& m, const RequestSettings& s, const HistoryParams& request,
              ResponseSink& response, bool* failed, bool* gave_up) {
  const HistoryParams p = WithBoundedWalk(request);
  RecordWriter out(response, m.RecordBuffer());
  const std::string& mode = p.mode;
  if (mode == "0") {
    GenIntraday(m, p, s, out);
  } else if (mode == "1") {
    *gave_up = !RunDailyWithRetry(m, p, s, response);
  } else if (mode == "2") {
    GenDelay(m, p, s, out);
  } else if (mode == "3") {
    RunLoggingFailure(
        m,
        [&] {
          if (s.calc_mode != "UW") {
            GenIntraday(m, p, s, out);
          } else {
            GenUWIntraday(m, p, s, out);
          }
        },
        "DoGenIntraday", p, false, failed);
  } else if (mode == "4") {
    GenInterval(m, p, s, out);
  } else if (mode == "5") {
    GenFastInterval(m, p, s, out);
  } else if (mode == "6") {
    if (s.db_mode == "PARADOX") {
      RunLoggingFailure(
          m, [&] { GenInterval3(m, p, s, out); }, "GenInterval3", p, true, failed);
    } else {
      RunLoggingFailure(
          m,
          [&] {
            LogLine("SQLDB Connected");
            GenInterval4(m, p, s, out);
            LogLine("Interval Done");
          },
          "GenInterval4", p, true, failed);
    }
  }
  // Any other mode selects no generator: the body stays empty.
}

// The three named connections are closed on every way out of a request, a
// failed one included: a module goes back to the pool after the request, and
// a link left as an error left it (possibly dead) would fail the next request
// served on that module. After a success the links wait in the engine's pool
// for the next request; after a failure they are closed for good, so the
// next request connects afresh.
void CloseConnections(THistData& m, bool failed) {
  for (db::TDatabase* d : {&m.PLRDB, &m.HistDB, &m.HistSQLDB}) {
    try {
      if (failed) {
        d->Discard();
      } else {
        d->Close();
      }
    } catch (const std::exception& e) {
      LogLine(LogStamp(Now()) + "Exception: " + Escaped(e) + " when closing " + d->AliasName());
      CountStoreError(d->AliasName());
    }
  }
}

}  // namespace

void HistDatagetHistoryAction(THistData& module, TWebRequest& request, TWebResponse& response) {
  // The settings, alias and store files the request reads are taken as they
  // are now: one look at what changed for all of them.
  const RequestScope files_as_of_now;
  module.SetResponse(&response);
  bool failed = false;
  bool gave_up = false;
  try {
    const RequestSettings settings = ReadRequestSettings();
    response.SetContentType("text/plain");
    response.SendResponse();

    const bool is_get = request.Method() == "GET";
    const FieldLookup field = [&](std::string_view name) {
      return (is_get ? request.GetQueryFields() : request.GetContentFields()).Values(name);
    };
    HistoryParams params;
    std::string_view error_record;
    const bool parsed = ParseHistoryParams(field, settings, Today(), &params, &error_record);
    if (RequestReport* report = request.Report()) {
      // A request refused for its fields still names its mode (read first,
      // so it was read without fault).
      const std::string mode = parsed ? params.mode : field("mode");
      report->mode = ModeCode(mode.empty() ? "0" : mode);
    }
    if (!parsed) {
      SendErrorMsg(error_record, response);
      module.SetResponse(nullptr);
      return;  // nothing was opened
    }
    // The private connection stays open from one request to the next. One
    // that its server closed meanwhile (the store restarted) is made again
    // at its next use, rather than failing every request of this module that
    // needs it from then on.
    if (module.OrdDB) module.OrdDB->DropIfStale();
    Dispatch(module, settings, params, response, &failed, &gave_up);
  } catch (const EClientGone&) {
    // The client hung up: the answer ends at the record that could not be
    // sent. The store did nothing wrong, so the links are closed as after a
    // success (back to the engine's pool) and nothing is logged: clients
    // that stop reading are part of normal service.
  } catch (const std::exception& e) {
    LogLine(LogStamp(Now()) + "Exception: " + Escaped(e) + " when HistDatagetHistoryAction");
    CountStoreError(module, e);
    failed = true;
  } catch (...) {
    LogLine(LogStamp(Now()) + "Exception: unknown error when HistDatagetHistoryAction");
    failed = true;
  }
  CloseConnections(module, failed);
  module.SetResponse(nullptr);
  if (RequestReport* report = request.Report(); report != nullptr && (failed || gave_up)) {
    report->failed = true;
  }
}

bool THistWebModule::DispatchAction(TWebRequest& request, TWebResponse& response) {
  HistDatagetHistoryAction(data_, request, response);
  return true;
}

}  // namespace morvane
