#include "app/ports/ports_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <QCoreApplication>
#include <QTest>
#include <QThreadPool>

#include "core/platform/fake/fake_platform.h"

namespace calorim::ports {
namespace {

using namespace std::chrono_literals;

TEST(PortsModel, RefreshReadsOffTheUiThreadAndSkipsWhileOneRuns) {
  fake::FakeMachine machine;
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int reads = 0;
  machine.registry->addLiveService("AppleSmartBattery", [&]() -> std::optional<RegistryDictionary> {
    std::unique_lock lock(mutex);
    ++reads;
    changed.notify_all();
    changed.wait_for(lock, 20s, [&] { return open; });
    return RegistryDictionary{{"AdapterDetails", RegistryDictionary{{"Watts", 30}}}};
  });
  const auto readsReach = [&](int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 20s, [&] { return reads == count; });
  };
  const auto setOpen = [&](bool value) {
    const std::lock_guard lock(mutex);
    open = value;
    changed.notify_all();
  };

  {
    PortsModel model(machine.platform);  // never started: no timer ticks in between
    model.refresh();
    ASSERT_TRUE(readsReach(1));
    EXPECT_TRUE(model.isRefreshing());  // the reader blocks, the UI thread does not
    model.refresh();                    // skipped
    setOpen(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.isRefreshing(); }, 20000));
    ASSERT_TRUE(model.readings().adapterInfo);
    EXPECT_EQ(model.readings().adapterInfo->watts, 30);
    const std::lock_guard lock(mutex);
    EXPECT_EQ(reads, 1);
  }

  // A model destroyed while its refresh still reads drops the result safely.
  setOpen(false);
  auto model = std::make_unique<PortsModel>(machine.platform);
  model->refresh();
  ASSERT_TRUE(readsReach(2));
  model.reset();
  setOpen(true);
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace calorim::ports
