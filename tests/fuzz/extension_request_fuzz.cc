// Fuzzes whole requests through the extension, in process: the frame, the
// pool, the request handler, the field conversions and every generator, over
// a small demo market in SQLite stores made once at start. The clock is
// frozen on the day after the market's last trading day, so that requests
// without dates find data.
//
// An input is one request as text:
//   <settings><method> <query string>
//   <body>
// <settings> is one digit choosing the calculation and store modes the
// settings file names ("0" DC/PARADOX, "1" UW/PARADOX, "2" DC/SQL, "3"
// UW/SQL); the method runs to the first blank, the query string to the first
// line end, and the rest is the body.
//
// Whatever the request, the answer is status 200 with a text body of whole
// lines (but for one bare record, see below): request problems are records,
// never HTTP errors.
//
// MORVANE_FUZZ_SHOW=1 in the environment prints every request and its answer
// to stderr, to see what a seed reaches: run the target on the seed files.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "data/hist_data.h"
#include "demo_loader.h"
#include "fuzz/fuzz_files.h"
#include "stores.h"
#include "support/date_time.h"
#include "support/error.h"
#include "unit/web/fake_host.h"
#include "web/extension_entry.h"
#include "web/field_list.h"
#include "web/hist_web_module.h"
#include "web/history_params.h"
#include "web/web_application.h"

namespace {

using namespace morvane;

void Check(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) {
    std::fprintf(stderr, "extension request: %s\n%s\n", what, detail.c_str());
    std::abort();
  }
}

constexpr const char* kModes[][2] = {
    {"DC", "PARADOX"}, {"UW", "PARADOX"}, {"DC", "SQL"}, {"UW", "SQL"}};

void WriteSettings(int variant) {
  fuzz::WriteText(fuzz::ScratchDir() / "etc" / "oms.ini",
                  std::string("[MORVANE]\nMaxConnection=4\nCalcMode=") + kModes[variant][0] +
                      "\nDBMode=" + kModes[variant][1] + "\n[OMS_DATABASE]\nDSN_source=omsdata\n");
}

// The frozen clock's day: the day after the market's last trading day.
const TDateTime kToday = EncodeDate(2003, 3, 12);

constexpr std::string_view kBareNotFound = "ERROR|Record not found.|";

// The tick generators walk a request's span of days one day at a time, one
// table look-up per day, as the stores' other software expects; a span of
// thousands of years is a valid request that takes minutes. Such inputs are
// left out: they find nothing a short span would not, and would only be
// reported as timeouts.
constexpr TDateTime kMaxSpanDays = 400;

bool SpansTooManyDays(std::string_view fields_text) {
  FieldList fields;
  try {
    ExtractHeaderFields(fields_text, fields);
  } catch (const EConvertError&) {
    return false;
  }
  HistoryParams p;
  std::string_view error_record;
  const auto field = [&](std::string_view name) { return fields.Values(name); };
  return ParseHistoryParams(field, RequestSettings(), kToday, &p, &error_record) &&
         std::abs(p.date_end - p.date_begin) > kMaxSpanDays;
}

std::string CString(std::string_view s) {
  return std::string(s.substr(0, s.find('\0')));
}

TWebApplication* g_app = nullptr;
int g_variant = -1;
bool g_show = false;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::filesystem::path& dir = fuzz::ScratchDir();
  std::filesystem::create_directories(dir / "ticks");
  std::filesystem::create_directories(dir / "etc");
  setenv("MORVANE_ALIASES", (dir / "aliases.ini").c_str(), 1);
  // The settings file is found in the system configuration directory; the
  // current directory stays the caller's, where the corpus paths point.
  setenv("MORVANE_SYSCONFDIR", (dir / "etc").c_str(), 1);
  // The log would grow without bound over a long run; its lines are not what
  // is checked here.
  setenv("MORVANE_LOG", "/dev/null", 1);
  setenv("MORVANE_CLOCK", "2003-03-12 10:45:12", 1);  // kToday
  fuzz::WriteText(dir / "aliases.ini",
                  "[HISTDATA]\nDRIVER=SQLITE\nPATH=ticks/\n"
                  "[Historical]\nDRIVER=SQLITE\nPATH=historical.db\n"
                  "[plrdata]\nDRIVER=SQLITE\nPATH=plrdata.db\n"
                  "[omsdata]\nDRIVER=SQLITE\nPATH=omsdata.db\n");
  WriteSettings(0);
  g_variant = 0;
  g_show = std::getenv("MORVANE_FUZZ_SHOW") != nullptr;

  load::InitStores("");
  load::DemoOptions market;
  market.days = 4;
  market.symbols = 3;
  market.ticks_per_day = 40;
  market.end = EncodeDate(2003, 3, 11);
  market.is_holiday = load::SettingsHolidays();
  load::LoadDemo(market, "");

  // The extension's own start-up (extension_exports.cc), without the export
  // glue: the log and session IDs, the pool's limit, the module class.
  g_app = new TWebApplication(32);
  g_app->SetMaxConnections(GetMaxConnection());
  g_app->RegisterModuleClass([] { return std::make_unique<THistWebModule>(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  int variant = 0;
  if (!in.empty() && in.front() >= '0' && in.front() <= '3') {
    variant = in.front() - '0';
    in.remove_prefix(1);
  }
  if (variant != g_variant) {
    WriteSettings(variant);
    g_variant = variant;
  }
  const size_t line_end = std::min(in.find('\n'), in.size());
  const std::string_view line = in.substr(0, line_end);
  const size_t blank = std::min(line.find(' '), line.size());
  // The control block hands the method and the query string over as C
  // strings: what follows a zero byte in them never reaches the extension.
  const std::string method = CString(line.substr(0, blank));
  const std::string query = CString(line.substr(std::min(blank + 1, line.size())));
  const std::string body(in.substr(std::min(line_end + 1, in.size())));

  if (SpansTooManyDays(method == "GET" ? query : body)) return -1;

  testing::FakeHost host(method, query, body);
  // Half of the body with the control block, the rest through ReadClient.
  host.DeliverOnly(static_cast<uint32_t>(body.size() / 2));
  RunRequest(*g_app, host.ecb());

  const std::string request(reinterpret_cast<const char*>(data), size);
  Check(host.headers().size() == 1, "not exactly one header block", request);
  Check(host.headers()[0].status == "200 OK", "a status other than 200",
        request + "\n" + host.headers()[0].status + "\n" + host.body());
  const std::string answer = host.body();
  if (g_show) std::fprintf(stderr, "%s\n-> %s", request.c_str(), answer.c_str());
  // Daily history and the delayed quote end an answer that found nothing with
  // a bare "not found" record, without a line end; every other answer ends
  // with a whole line.
  Check(answer.empty() || answer.ends_with("\r\n") || answer.ends_with(kBareNotFound),
        "the body ends inside a line", request + "\n" + answer);
  return 0;
}
