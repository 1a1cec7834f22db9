// The re-entrant lock and the millisecond clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "iclock.h"
#include "ienv.h"
#include "ilock.h"
#include "orbhost_test.h"
#include "wince.h"
#include "wince_sim.h"

namespace {

template <class T>
T* Create(ZUEUID clsid) {
  void* out = nullptr;
  EXPECT_EQ(PVL_OK, env_env_GetCurrent()->CreateInstance(clsid, &out));
  return static_cast<T*>(out);
}

TEST(Lock, OwnerTakesItAgainOthersWaitForTheLastUnlock) {
  ILock* lock = Create<ILock>(ZUEUID_CLASS_LOCK);
  ASSERT_NE(nullptr, lock);
  EXPECT_EQ(PVL_OK, lock->Lock());
  EXPECT_EQ(PVL_OK, lock->Lock());
  std::atomic<bool> taken{false};
  std::thread other([&] {
    EXPECT_EQ(PVL_E_NOTREADY, lock->Unlock());  // not its lock
    lock->Lock();
    taken = true;
    lock->Unlock();
  });
  EXPECT_EQ(PVL_OK, lock->Unlock());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(taken.load());  // still held once
  EXPECT_EQ(PVL_OK, lock->Unlock());
  other.join();
  EXPECT_TRUE(taken.load());
  EXPECT_EQ(PVL_E_NOTREADY, lock->Unlock());  // nobody holds it
  lock->Release();
}

TEST(Lock, AnswersItsIdentifiers) {
  ILock* lock = Create<ILock>(ZUEUID_CLASS_LOCK);
  void* out = nullptr;
  EXPECT_EQ(PVL_OK, lock->QueryInterface(ZUEUID_IFACE_LOCK, &out));
  EXPECT_EQ(lock, out);
  lock->Release();
  EXPECT_EQ(PVL_E_NOTSUPPORTED, lock->QueryInterface(ZUEUID_CLASS_CLOCK, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(PVL_E_NULLPTR, lock->QueryInterface(ZUEUID_IFACE_BASE, nullptr));
  const int32_t live = OrbhostTest_LiveHostObjects();
  lock->Release();
  EXPECT_EQ(live - 1, OrbhostTest_LiveHostObjects());
}

TEST(Clock, MillisecondsFollowTheTickCountAcrossTheWrap) {
  IClock* clock = Create<IClock>(ZUEUID_CLASS_CLOCK);
  ASSERT_NE(nullptr, clock);
  EXPECT_EQ(PVL_E_NULLPTR, clock->GetTime(nullptr));
  CeSimSetTickCountOffset(0xFFFFFFFFu - GetTickCount() - 5);  // 5 ms before the wrap
  uint32_t t0 = 0, t1 = 0;
  ASSERT_EQ(PVL_OK, clock->GetTime(&t0));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(PVL_OK, clock->GetTime(&t1));
  const uint32_t elapsed = t1 - t0;  // 32-bit difference across the wrap
  EXPECT_GE(elapsed, 19u);
  EXPECT_LT(elapsed, 10000u);
  CeSimSetTickCountOffset(0);
  clock->Release();
}

}  // namespace
