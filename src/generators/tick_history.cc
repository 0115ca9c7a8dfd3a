// Not written yet: answers with an empty body.
#include "generators/history_generators.h"

namespace morvane {

void GenIntraday(THistData&, const HistoryParams&, const RequestSettings&, RecordWriter&) {}

}  // namespace morvane
