// The pool of data modules: limit, reuse order, creation failures, return of
// modules on every road, and the request road through a fake host.
#include "web/web_application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/error.h"
#include "unit/web/fake_host.h"
#include "web/extension_entry.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace morvane {
namespace {

struct Counters {
  std::atomic<int> made{0};
  std::atomic<int> destroyed{0};
};

// A module that numbers itself and answers with its number.
class NumberedModule final : public TWebModule {
 public:
  NumberedModule(Counters& c, bool fail_create)
      : counters_(c), number_(++c.made), fail_create_(fail_create) {}
  ~NumberedModule() override { ++counters_.destroyed; }

  void WebModuleCreate() override {
    created_ = true;
    if (fail_create_) throw EDatabaseError("cannot reach the store");
  }

  bool DispatchAction(TWebRequest& /*request*/, TWebResponse& response) override {
    if (throw_in_dispatch) throw std::runtime_error("handler broke <b>");
    response.SetContentType("text/plain");
    response.SendResponse();
    response.Write("module " + std::to_string(number_));
    return true;
  }

  int number() const { return number_; }
  bool created() const { return created_; }
  bool throw_in_dispatch = false;

 private:
  Counters& counters_;
  int number_;
  bool fail_create_;
  bool created_ = false;
};

WebModuleFactory FactoryFor(Counters& counters, bool fail_create = false) {
  return
      [&counters, fail_create] { return std::make_unique<NumberedModule>(counters, fail_create); };
}

NumberedModule* AsNumbered(TWebModule* m) {
  return static_cast<NumberedModule*>(m);
}

TEST(TWebApplication, RegisteringASecondModuleClassRaises) {
  Counters c;
  TWebApplication app(10);
  app.RegisterModuleClass(FactoryFor(c));
  try {
    app.RegisterModuleClass(FactoryFor(c));
    FAIL() << "second registration accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message(), "Only one data module per application");
  }
}

TEST(TWebApplication, LimitRefusesBeyondItWithTheExactMessageAndRecovers) {
  Counters c;
  TWebApplication app(2);
  app.RegisterModuleClass(FactoryFor(c));
  TWebModule* first = app.ActivateWebModule();
  TWebModule* second = app.ActivateWebModule();
  try {
    app.ActivateWebModule();
    FAIL() << "third module handed out at limit 2";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message(),
              "Maximum number of concurrent connections exceeded.  Please try again later");
  }
  EXPECT_EQ(c.made, 2);
  app.DeactivateWebModule(second);
  // The returned module serves the next request; no third one is made.
  EXPECT_EQ(app.ActivateWebModule(), second);
  EXPECT_EQ(c.made, 2);
  app.DeactivateWebModule(first);
  app.DeactivateWebModule(second);
}

TEST(TWebApplication, ZeroOrNegativeLimitMeansNoLimit) {
  for (int32_t limit : {0, -1, -100}) {
    Counters c;
    TWebApplication app(limit);
    app.RegisterModuleClass(FactoryFor(c));
    std::vector<TWebModule*> taken;
    for (int i = 0; i < 50; ++i) taken.push_back(app.ActivateWebModule());
    EXPECT_EQ(app.ActiveCount(), 50u) << limit;
    for (TWebModule* m : taken) app.DeactivateWebModule(m);
  }
}

TEST(TWebApplication, ReusesTheModuleIdleLongest) {
  Counters c;
  TWebApplication app(10);
  app.RegisterModuleClass(FactoryFor(c));
  TWebModule* a = app.ActivateWebModule();
  TWebModule* b = app.ActivateWebModule();
  TWebModule* d = app.ActivateWebModule();
  app.DeactivateWebModule(b);
  app.DeactivateWebModule(d);
  app.DeactivateWebModule(a);
  EXPECT_EQ(app.ActivateWebModule(), b);
  EXPECT_EQ(app.ActivateWebModule(), d);
  EXPECT_EQ(app.ActivateWebModule(), a);
  EXPECT_EQ(c.made, 3);
}

TEST(TWebApplication, CreationHandlerFailureIsDroppedButFactoryFailureRaises) {
  Counters c;
  TWebApplication app(10);
  app.RegisterModuleClass(FactoryFor(c, /*fail_create=*/true));
  TWebModule* m = app.ActivateWebModule();
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(AsNumbered(m)->created());
  app.DeactivateWebModule(m);

  TWebApplication broken(10);
  broken.RegisterModuleClass(
      []() -> std::unique_ptr<TWebModule> { throw EDatabaseError("design-time objects failed"); });
  EXPECT_THROW(broken.ActivateWebModule(), EDatabaseError);
  EXPECT_EQ(broken.ActiveCount(), 0u);
}

TEST(TWebApplication, TeardownDestroysIdleAndActiveModules) {
  Counters c;
  {
    TWebApplication app(10);
    app.RegisterModuleClass(FactoryFor(c));
    TWebModule* a = app.ActivateWebModule();
    app.ActivateWebModule();
    app.DeactivateWebModule(a);
  }
  EXPECT_EQ(c.made, 2);
  EXPECT_EQ(c.destroyed, 2);
}

TEST(TWebApplication, CachingOffDestroysReturnedModules) {
  Counters c;
  TWebApplication app(10);
  app.SetCacheConnections(false);
  app.RegisterModuleClass(FactoryFor(c));
  app.DeactivateWebModule(app.ActivateWebModule());
  EXPECT_EQ(c.destroyed, 1);
  EXPECT_EQ(app.IdleCount(), 0u);
}

TEST(TWebApplication, FiveConcurrentRequestsMakeFiveModulesThenReuseOldestIdle) {
  Counters c;
  TWebApplication app(10);
  app.RegisterModuleClass(FactoryFor(c));

  // Five requests that are all inside the pool at the same moment.
  std::mutex mu;
  std::condition_variable cv;
  int inside = 0;
  std::vector<TWebModule*> order;
  std::vector<std::thread> threads;
  for (int i = 0; i < 5; ++i) {
    threads.emplace_back([&, i] {
      TWebModule* m = app.ActivateWebModule();
      std::unique_lock<std::mutex> lock(mu);
      ++inside;
      cv.notify_all();
      cv.wait(lock, [&] { return inside == 5; });
      // Return one at a time, in thread order, so the idle order is known.
      cv.wait(lock, [&] { return static_cast<int>(order.size()) == i; });
      order.push_back(m);
      app.DeactivateWebModule(m);
      cv.notify_all();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(c.made, 5);
  EXPECT_EQ(app.IdleCount(), 5u);
  EXPECT_EQ(app.ActivateWebModule(), order.front());
}

TEST(RunRequest, ServesThroughTheFakeHostAndReturnsTheModule) {
  Counters c;
  TWebApplication app(10);
  app.RegisterModuleClass(FactoryFor(c));
  testing::FakeHost host("GET", "symbol=0005&mode=7");
  EXPECT_EQ(RunRequest(app, host.ecb()), static_cast<uint32_t>(HSE_STATUS_SUCCESS));
  ASSERT_EQ(host.headers().size(), 1u);
  EXPECT_EQ(host.headers()[0].status, "200 OK");
  EXPECT_EQ(host.headers()[0].block, "Content-Type: text/plain\r\nContent:\r\n\r\n");
  EXPECT_EQ(host.body(), "module 1");
  EXPECT_EQ(app.ActiveCount(), 0u);
  EXPECT_EQ(app.IdleCount(), 1u);
}

TEST(RunRequest, RefusalAtTheLimitSendsTheFailurePage) {
  Counters c;
  TWebApplication app(1);
  app.RegisterModuleClass(FactoryFor(c));
  TWebModule* busy = app.ActivateWebModule();
  testing::FakeHost host("GET", "");
  EXPECT_EQ(RunRequest(app, host.ecb()), static_cast<uint32_t>(HSE_STATUS_ERROR));
  EXPECT_EQ(host.ecb()->dwHttpStatusCode, 500u);
  ASSERT_EQ(host.headers().size(), 1u);
  EXPECT_EQ(host.headers()[0].status,
            "500 Maximum number of concurrent connections exceeded.  Please try again later");
  const std::string body =
      "<html><title>Internal Server Error 500</title>\r\n"
      "<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: Exception<br>\r\n"
      "Message: Maximum number of concurrent connections exceeded.  Please try again "
      "later<br></html>\r\n";
  EXPECT_EQ(host.headers()[0].block, "Content-Type: text/html\r\nContent-Length: " +
                                         std::to_string(body.size()) + "\r\nContent:\r\n\r\n");
  ASSERT_EQ(host.writes().size(), 1u);
  EXPECT_EQ(host.writes()[0], body);
  app.DeactivateWebModule(busy);

  // Once the busy module is back, the next request is served by it.
  testing::FakeHost next("GET", "");
  EXPECT_EQ(RunRequest(app, next.ecb()), static_cast<uint32_t>(HSE_STATUS_SUCCESS));
  EXPECT_EQ(next.body(), "module 1");
  EXPECT_EQ(c.made, 1);
}

TEST(RunRequest, HandlerThrowReturnsTheModuleAndEscapesThePage) {
  Counters c;
  TWebApplication app(10);
  app.RegisterModuleClass(FactoryFor(c));
  TWebModule* m = app.ActivateWebModule();
  AsNumbered(m)->throw_in_dispatch = true;
  app.DeactivateWebModule(m);

  testing::FakeHost host("GET", "");
  EXPECT_EQ(RunRequest(app, host.ecb()), static_cast<uint32_t>(HSE_STATUS_ERROR));
  EXPECT_EQ(app.ActiveCount(), 0u);
  EXPECT_EQ(app.IdleCount(), 1u);
  // The failure page after the header block the handler never sent.
  ASSERT_EQ(host.headers().size(), 1u);
  EXPECT_EQ(host.headers()[0].status, "500 handler broke <b>");
  EXPECT_NE(host.body().find("Message: handler broke &lt;b&gt;<br></html>"), std::string::npos);
}

TEST(GetExtensionVersion, ReportsVersionTwoAndTheEmptyTitle) {
  TWebApplication app;
  HSE_VERSION_INFO info;
  std::memset(&info, 'x', sizeof(info));
  ASSERT_TRUE(FillExtensionVersion(app, &info));
  EXPECT_EQ(info.dwExtensionVersion, 0x00020000u);
  EXPECT_STREQ(info.lpszExtensionDesc, "");

  app.SetTitle(std::string(400, 'T'));
  ASSERT_TRUE(FillExtensionVersion(app, &info));
  EXPECT_EQ(std::string(info.lpszExtensionDesc), std::string(255, 'T'));
}

}  // namespace
}  // namespace morvane
