// Entry points of the generators that are not built yet: each answers with an
// empty body, so that every mode is dispatched and its connections closed as
// usual. Each moves to a file of its own when its generator is written.
#include "generators/history_generators.h"

namespace morvane {

void GenIntraday(THistData&, const std::string&, ResponseSink&, TDateTime, TDateTime, TDateTime,
                 TDateTime, int32_t, bool) {}

void GenInterday2(THistData&, const std::string&, ResponseSink&, TDateTime, TDateTime) {}

void GenDelay(THistData&, const std::string&, ResponseSink&) {}

void GenUWIntraday(THistData&, const std::string&, ResponseSink&, TDateTime, TDateTime, TDateTime,
                   TDateTime, bool, int32_t, bool) {}

void GenInterval(THistData&, const std::string&, TDateTime, TDateTime, TDateTime, TDateTime,
                 int32_t, int32_t) {}

void GenFastInterval(THistData&, const std::string&, int32_t, TDateTime, TDateTime, TDateTime,
                     TDateTime, int32_t, int32_t) {}

void GenInterval3(THistData&, const RequestSettings&, const std::string&, TDateTime, TDateTime,
                  TDateTime, TDateTime, int32_t, int32_t) {}

void GenInterval4(THistData&, const RequestSettings&, const std::string&, TDateTime, TDateTime,
                  TDateTime, TDateTime, int32_t, int32_t, bool) {}

}  // namespace morvane
