// The module pool under real concurrency: the 33rd simultaneous request meets the
// limit, and finished modules are reused.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "components/tarn_session.h"
#include "components/tarn_session_list.h"
#include "web/fake_control_block.h"
#include "web/web_application.h"
#include "web/web_test_support.h"

namespace dovecrest {
namespace {

using testing::ConfigDir;
using testing::FakeControlBlock;

TEST(ModulePool, TheRequestBeyondMaxConnectionsGetsThePoolErrorAndModulesAreReused) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");

  TWebApplication app;
  ASSERT_EQ(app.MaxConnections, 32);

  // 32 requests that wait inside the /Query handler, reading a body that is still coming.
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::atomic<int> waiting{0};
  std::vector<std::unique_ptr<FakeControlBlock>> blocked;
  std::vector<std::thread> threads;
  for (int i = 0; i < 32; ++i) {
    auto request = std::make_unique<FakeControlBlock>("POST", "/Query");
    request->SetBody("UNAME=", 0);
    request->onRead = [&] {
      std::unique_lock lock(m);
      ++waiting;
      cv.notify_all();
      cv.wait(lock, [&] { return release; });
    };
    blocked.push_back(std::move(request));
  }
  for (auto& request : blocked)
    threads.emplace_back([&app, r = request.get()] { app.HttpExtensionProc(r->Ecb()); });
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return waiting == 32; });
  }
  EXPECT_EQ(app.ActiveModuleCount(), 32u);

  FakeControlBlock refused("GET", "");
  EXPECT_EQ(app.HttpExtensionProc(refused.Ecb()), static_cast<uint32_t>(HSE_STATUS_ERROR));
  EXPECT_EQ(refused.Ecb().dwHttpStatusCode, 500u);
  EXPECT_EQ(refused.status, "500 Maximum number of concurrent connections exceeded.  Please try again later");
  EXPECT_NE(refused.written.find("Exception: Exception<br>"), std::string::npos);

  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  for (auto& t : threads) t.join();
  for (auto& request : blocked) EXPECT_EQ(request->status, "200 OK");

  EXPECT_EQ(app.ActiveModuleCount(), 0u);
  EXPECT_EQ(app.InactiveModuleCount(), 32u);
  FakeControlBlock next("GET", "");
  EXPECT_EQ(app.HttpExtensionProc(next.Ecb()), static_cast<uint32_t>(HSE_STATUS_SUCCESS));
  EXPECT_EQ(app.ConstructedModuleCount(), 32u);  // reused, not constructed
}

TEST(ModulePool, UnloadDestroysIdleModulesAndLeavesOneThatIsServing) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app;

  // A request that waits inside the /Query handler for the rest of its body.
  std::mutex m;
  std::condition_variable cv;
  bool waiting = false, release = false;
  FakeControlBlock busy("POST", "/Query");
  busy.SetBody("UNAME=", 0);
  busy.onRead = [&] {
    std::unique_lock lock(m);
    waiting = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  };
  std::thread serving([&] { app.HttpExtensionProc(busy.Ecb()); });
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return waiting; });
  }
  FakeControlBlock idle("GET", "");
  EXPECT_EQ(app.HttpExtensionProc(idle.Ecb()), static_cast<uint32_t>(HSE_STATUS_SUCCESS));
  ASSERT_EQ(app.ActiveModuleCount(), 1u);
  ASSERT_EQ(app.InactiveModuleCount(), 1u);

  app.Unload();
  EXPECT_EQ(app.InactiveModuleCount(), 0u);
  EXPECT_EQ(app.ActiveModuleCount(), 1u);
  EXPECT_TRUE(tarn::Session().Active());  // the serving module still needs the engine

  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  serving.join();
  EXPECT_EQ(busy.status, "200 OK");
  EXPECT_EQ(app.InactiveModuleCount(), 1u);
}

}  // namespace
}  // namespace dovecrest
