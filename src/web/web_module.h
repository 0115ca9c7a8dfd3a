// The base of the data module the pool hands to each request.
//
// A module is made once by the application's registered factory, kept in the
// pool for the life of the library, and serves one request at a time: the
// pool guarantees that between ActivateWebModule and DeactivateWebModule no
// other thread uses it, so a module's members need no lock.
#ifndef MORVANE_WEB_WEB_MODULE_H_
#define MORVANE_WEB_WEB_MODULE_H_

namespace morvane {

class TWebRequest;
class TWebResponse;

class TWebModule {
 public:
  TWebModule() = default;
  virtual ~TWebModule() = default;
  TWebModule(const TWebModule&) = delete;
  TWebModule& operator=(const TWebModule&) = delete;

  // The creation handler: runs once, right after the factory has made the
  // module, on the thread of the request that needed it and outside the
  // pool's lock: creations of two modules may overlap. Whatever it
  // raises is dropped by the pool and the module serves all the same with
  // what the handler set up before the failure, so an unreachable database
  // at start-up does not make every later request fail in the frame.
  virtual void WebModuleCreate() {}

  // Handles one request: the module is its own dispatcher with one default
  // action for every path and method. Returns whether the request counts as
  // handled. May raise; the frame then answers with its failure page.
  virtual bool DispatchAction(TWebRequest& request, TWebResponse& response) = 0;
};

}  // namespace morvane

#endif  // MORVANE_WEB_WEB_MODULE_H_
