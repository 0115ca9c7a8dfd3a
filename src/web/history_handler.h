// HistDatagetHistoryAction, the handler of every request.
//
// It refreshes the per-request settings, sends the header block at once (so
// everything after it, errors included, goes into the 200 body), reads and
// checks the request fields, calls the one generator the mode selects, and
// closes the module's three named connections. Request problems are answered
// with an "ERROR|" record; generator failures are logged and the client keeps
// what was already sent.
#ifndef MORVANE_WEB_HISTORY_HANDLER_H_
#define MORVANE_WEB_HISTORY_HANDLER_H_

#include "data/hist_data.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace morvane {

// Handles one request on `module`. Never raises: whatever fails is logged
// with "Exception: ... when HistDatagetHistoryAction". When it fails before
// the header block went out, the response is left unsent for the frame to
// answer with its default (status 200, text/html, empty body).
void HistDatagetHistoryAction(THistData& module, TWebRequest& request, TWebResponse& response);

}  // namespace morvane

#endif  // MORVANE_WEB_HISTORY_HANDLER_H_
