// The data module as the web frame pools it.
//
// THistData (the data layer) carries the database objects and knows nothing
// of HTTP; this wrapper gives the frame its module face: the creation handler
// and the one action, getHistory, which every request reaches whatever its
// path and method.
#ifndef MORVANE_WEB_HIST_WEB_MODULE_H_
#define MORVANE_WEB_HIST_WEB_MODULE_H_

#include "data/hist_data.h"
#include "web/web_module.h"

namespace morvane {

class THistWebModule final : public TWebModule {
 public:
  void WebModuleCreate() override { data_.WebModuleCreate(); }
  bool DispatchAction(TWebRequest& request, TWebResponse& response) override;

 private:
  THistData data_;
};

}  // namespace morvane

#endif  // MORVANE_WEB_HIST_WEB_MODULE_H_
