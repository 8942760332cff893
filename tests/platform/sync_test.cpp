#include <csignal>
#include <thread>

#include "platform/sync.h"
#include "platform/time.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"

namespace {

using namespace platform;

class SyncTest : public IsolatedTest {};

TEST_F(SyncTest, ManualResetEventStaysSetUntilReset) {
  Event* event = CreateNamedEvent("Manual", true, false, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(WaitForEvent(event, 0));
  EXPECT_TRUE(WaitForEventClear(event, 0));
  SetEvent(event);
  EXPECT_TRUE(WaitForEvent(event, 0));
  EXPECT_TRUE(WaitForEvent(event, 0));
  EXPECT_FALSE(WaitForEventClear(event, 0));
  ResetEvent(event);
  EXPECT_FALSE(IsEventSet(event));
  CloseNamedEvent(event);
}

TEST_F(SyncTest, AutoResetEventReleasesOneWaiter) {
  Event* event = CreateNamedEvent("Auto", false, true, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(WaitForEvent(event, 0));
  EXPECT_FALSE(WaitForEvent(event, 0));
  CloseNamedEvent(event);
}

TEST_F(SyncTest, StateAndModeComeFromTheCreator) {
  Event* first = CreateNamedEvent("Mode", false, true, nullptr);
  bool existed = false;
  Event* second = CreateNamedEvent("Mode", true, false, &existed);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(existed);
  EXPECT_TRUE(IsEventSet(second));
  EXPECT_TRUE(WaitForEvent(second, 0));
  EXPECT_FALSE(IsEventSet(first)) << "still auto reset";
  CloseNamedEvent(first);
  CloseNamedEvent(second);
}

TEST_F(SyncTest, WaitsEndWhenTheStateChangesOrTheTimeIsUp) {
  Event* event = CreateNamedEvent("Wake", true, false, nullptr);
  ASSERT_NE(event, nullptr);
  uint32_t start = GetTickCount();
  EXPECT_FALSE(WaitForEvent(event, 100));
  EXPECT_GE(GetTickCount() - start, 100u);

  std::thread setter([&] {
    SleepMs(20);
    SetEvent(event);
  });
  EXPECT_TRUE(WaitForEvent(event, 20000));
  setter.join();
  std::thread resetter([&] {
    SleepMs(20);
    ResetEvent(event);
  });
  EXPECT_TRUE(WaitForEventClear(event, 20000));
  resetter.join();
  CloseNamedEvent(event);
}

TEST_F(SyncTest, MutexIsRecursiveForItsOwner) {
  Mutex* mutex = CreateNamedMutex("Recursive", nullptr);
  ASSERT_NE(mutex, nullptr);
  ASSERT_TRUE(LockMutex(mutex, 0));
  ASSERT_TRUE(LockMutex(mutex, 0));
  auto otherThreadGetsIt = [&] {
    bool got = false;
    std::thread other([&] {
      got = LockMutex(mutex, 10);
      if (got) UnlockMutex(mutex);
    });
    other.join();
    return got;
  };
  EXPECT_FALSE(otherThreadGetsIt());
  UnlockMutex(mutex);
  EXPECT_FALSE(otherThreadGetsIt());
  UnlockMutex(mutex);
  EXPECT_TRUE(otherThreadGetsIt());
  CloseNamedMutex(mutex);
}

TEST_F(SyncTest, MutexOfADeadOwnerPassesToTheNextWaiter) {
  PeerProcess peer;
  ASSERT_TRUE(peer.start({"lock-mutex", "Abandoned"}));
  ASSERT_TRUE(peer.expectLine("locked"));
  Mutex* mutex = OpenNamedMutex("Abandoned");
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(LockMutex(mutex, 50)) << "held by a live process";

  std::thread killer([&] {
    SleepMs(50);
    peer.kill(SIGKILL);
  });
  EXPECT_TRUE(LockMutex(mutex, 10000));
  killer.join();
  UnlockMutex(mutex);
  EXPECT_TRUE(LockMutex(mutex, 0)) << "consistent again after the takeover";
  UnlockMutex(mutex);
  CloseNamedMutex(mutex);
}

}  // namespace
