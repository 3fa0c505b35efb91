#include "src/common/shared_locker.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::auto_locker;
using ascommon::CSharedLocker;
using tervo_test::CapturingTrace;

// How long to wait for something that must happen before calling it a
// deadlock, and how long to watch for something that must not happen yet.
constexpr auto kDeadlockGuard = std::chrono::seconds(20);
constexpr auto kStillWaiting = std::chrono::milliseconds(100);

constexpr const char* kDeletedText =
    "ASInternalException - CODE: 0 MESSAGE: Unable to lock resource read only because it is being deleted!";
constexpr const char* kDeletedWriteLog =
    "[ANTISPAM EXCEPTION] [    shared_locker.cc:149 ] - ASInternalException - CODE: 0 MESSAGE: "
    "Unable to lock resource read only because it is being deleted!\n";

// A count that threads raise and others wait on.
class Counter {
 public:
  void Add() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++value_;
    }
    cv_.notify_all();
  }
  // True once the count reaches `n`; false when `timeout` passes first.
  template <class Duration>
  bool WaitFor(int n, Duration timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return value_ >= n; });
  }
  int Get() {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int value_ = 0;
};

// Waits for something the test depends on. Not getting it means the threads
// are deadlocked and joining them would hang, so the program stops here.
void MustReach(Counter& counter, int n, const char* what) {
  if (!counter.WaitFor(n, kDeadlockGuard)) {
    fprintf(stderr, "deadlock: %s did not happen\n", what);
    fflush(stderr);
    abort();
  }
}

// A thread that asks for a read lock (counting into `asking`), and once in
// counts into `entered` and leaves.
std::thread WaitingReader(CSharedLocker* locker, Counter* asking, Counter* entered) {
  return std::thread([=] {
    asking->Add();
    locker->LockReadOnly();
    entered->Add();
    locker->UnlockReadOnly();
  });
}

struct Raised {
  bool thrown = false;
  std::string what;
  int32_t code = 0;
};

template <class F>
Raised CatchInternal(F&& f) {
  Raised r;
  try {
    f();
  } catch (const ASInternalException& e) {
    r.thrown = true;
    r.what = e.what();
    r.code = e.GetCode();
  }
  return r;
}

TEST(SharedLockerReaders, TwoReadersHoldTheLockAtOnce) {
  CSharedLocker locker;
  Counter inside;
  Counter checked;
  Counter release;
  std::atomic<int32_t> seen_by_first{0};
  std::atomic<int32_t> seen_by_second{0};

  auto reader = [&](std::atomic<int32_t>& seen) {
    locker.LockReadOnly();
    inside.Add();
    // Each reader waits inside for the other one: were they exclusive, the
    // second could never get in.
    MustReach(inside, 2, "both readers inside");
    seen = locker.GetReaderCount();
    checked.Add();
    MustReach(release, 1, "release");
    locker.UnlockReadOnly();
  };
  std::thread first(reader, std::ref(seen_by_first));
  std::thread second(reader, std::ref(seen_by_second));
  MustReach(checked, 2, "both readers checked the count");
  release.Add();
  first.join();
  second.join();

  EXPECT_EQ(2, seen_by_first.load());
  EXPECT_EQ(2, seen_by_second.load());
  EXPECT_EQ(0, locker.GetReaderCount());
}

TEST(SharedLockerWriter, WaitsUntilEveryReaderHasUnlocked) {
  CSharedLocker locker;
  Counter inside;
  Counter unlock_first;
  Counter unlock_second;
  Counter first_gone;
  Counter writer_asking;
  Counter writer_in;

  auto reader = [&](Counter& unlock, Counter* gone) {
    locker.LockReadOnly();
    inside.Add();
    MustReach(unlock, 1, "reader release");
    locker.UnlockReadOnly();
    if (gone != nullptr) gone->Add();
  };
  std::thread first(reader, std::ref(unlock_first), &first_gone);
  std::thread second(reader, std::ref(unlock_second), nullptr);
  MustReach(inside, 2, "both readers inside");

  std::atomic<int32_t> readers_seen_by_writer{-1};
  std::thread writer([&] {
    writer_asking.Add();
    locker.LockWrite();
    readers_seen_by_writer = locker.GetReaderCount();
    writer_in.Add();
    locker.UnlockWrite();
  });
  MustReach(writer_asking, 1, "writer started");
  // The event starts signalled, so the writer wakes once and must wait again.
  EXPECT_FALSE(writer_in.WaitFor(1, kStillWaiting)) << "writer entered with two readers inside";

  unlock_first.Add();
  MustReach(first_gone, 1, "first reader unlocked");
  EXPECT_EQ(1, locker.GetReaderCount());
  EXPECT_FALSE(writer_in.WaitFor(1, kStillWaiting)) << "writer entered with one reader inside";

  unlock_second.Add();
  MustReach(writer_in, 1, "writer entered after the last reader left");
  first.join();
  second.join();
  writer.join();
  EXPECT_EQ(0, readers_seen_by_writer.load());
  EXPECT_EQ(0, locker.GetReaderCount());
}

TEST(SharedLockerWriter, ReaderWaitsWhileAWriterHolds) {
  CSharedLocker locker;
  locker.LockWrite();

  Counter reader_asking;
  Counter reader_in;
  std::thread reader = WaitingReader(&locker, &reader_asking, &reader_in);
  MustReach(reader_asking, 1, "reader started");
  EXPECT_FALSE(reader_in.WaitFor(1, kStillWaiting)) << "reader entered while the writer held the lock";
  EXPECT_EQ(0, locker.GetReaderCount());

  locker.UnlockWrite();
  MustReach(reader_in, 1, "reader entered after the writer unlocked");
  reader.join();
  EXPECT_EQ(0, locker.GetReaderCount());
}

TEST(SharedLockerWriter, SecondWriterWaitsForTheFirst) {
  CSharedLocker locker;
  locker.LockWrite();

  Counter asking;
  Counter in;
  std::thread second([&] {
    asking.Add();
    locker.LockWrite();
    in.Add();
    locker.UnlockWrite();
  });
  MustReach(asking, 1, "second writer started");
  EXPECT_FALSE(in.WaitFor(1, kStillWaiting)) << "two writers inside at once";

  locker.UnlockWrite();
  MustReach(in, 1, "second writer entered");
  second.join();
}

TEST(SharedLockerDelete, MarkDeletedMakesBothLocksRaiseUntilTheFlagIsReset) {
  CSharedLocker locker;
  EXPECT_FALSE(locker.IsDeleted());
  locker.MarkDeleted();
  EXPECT_TRUE(locker.IsDeleted());

  {
    CapturingTrace trace;
    Raised read = CatchInternal([&] { locker.LockReadOnly(); });
    EXPECT_TRUE(read.thrown);
    EXPECT_EQ(kDeletedText, read.what);
    EXPECT_EQ(0, read.code);
    EXPECT_TRUE(trace.lines().empty()) << "a failed read-only lock writes no log line";
    EXPECT_EQ(0, locker.GetReaderCount());
  }
  {
    CapturingTrace trace;
    Raised write = CatchInternal([&] { locker.LockWrite(); });
    EXPECT_TRUE(write.thrown);
    EXPECT_EQ(kDeletedText, write.what);
    EXPECT_EQ(ASInternalException::kDefaultCode, write.code);
    ASSERT_EQ(1u, trace.lines().size());
    EXPECT_EQ(kDeletedWriteLog, trace.lines()[0]);
    EXPECT_EQ(0, trace.levels()[0]);
  }

  // Both failures left the sections free: after the reset the locks work on
  // this same thread without blocking.
  locker.ResetDeleteFlag();
  EXPECT_FALSE(locker.IsDeleted());
  locker.LockReadOnly();
  EXPECT_EQ(1, locker.GetReaderCount());
  locker.UnlockReadOnly();
  locker.LockWrite();
  locker.UnlockWrite();
  EXPECT_EQ(0, locker.GetReaderCount());
}

TEST(SharedLockerDelete, MarkDeletedTwiceRaisesAsTheWriteLockDoes) {
  CSharedLocker locker;
  locker.MarkDeleted();
  CapturingTrace trace;
  Raised again = CatchInternal([&] { locker.MarkDeleted(); });
  EXPECT_TRUE(again.thrown);
  EXPECT_EQ(kDeletedText, again.what);
  ASSERT_EQ(1u, trace.lines().size());
  EXPECT_EQ(kDeletedWriteLog, trace.lines()[0]);
  EXPECT_TRUE(locker.IsDeleted());
}

TEST(SharedLockerDelete, MarkDeletedWaitsForReadersToLeave) {
  CSharedLocker locker;
  locker.LockReadOnly();

  Counter asking;
  Counter done;
  std::thread deleter([&] {
    asking.Add();
    locker.MarkDeleted();
    done.Add();
  });
  MustReach(asking, 1, "deleter started");
  EXPECT_FALSE(done.WaitFor(1, kStillWaiting)) << "marked deleted with a reader inside";
  EXPECT_FALSE(locker.IsDeleted());

  locker.UnlockReadOnly();
  MustReach(done, 1, "deleter finished after the reader left");
  deleter.join();
  EXPECT_TRUE(locker.IsDeleted());
}

TEST(SharedLockerDelete, ResetDeleteFlagOnAFreshLockerRaises) {
  CSharedLocker locker;
  CapturingTrace trace;
  Raised r = CatchInternal([&] { locker.ResetDeleteFlag(); });
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ("ASInternalException - CODE: 0 MESSAGE: The resource is not being deleted! Cannot reset its delete flag.",
            r.what);
  // The text names code 0; the exception keeps its class's code.
  EXPECT_EQ(-3, r.code);
  ASSERT_EQ(1u, trace.lines().size());
  EXPECT_EQ(
      "[ANTISPAM EXCEPTION] [    shared_locker.cc:245 ] - ASInternalException - CODE: 0 MESSAGE: "
      "The resource is not being deleted! Cannot reset its delete flag.\n",
      trace.lines()[0]);
  EXPECT_FALSE(locker.IsDeleted());

  // The raise took no section.
  locker.LockWrite();
  locker.UnlockWrite();
}

TEST(SharedLockerDestroy, WarnsOnlyWhenReadersAreStillCounted) {
  CapturingTrace trace;
  {
    CSharedLocker clean;
    clean.LockReadOnly();
    clean.UnlockReadOnly();
    clean.LockWrite();
    clean.UnlockWrite();
  }
  EXPECT_TRUE(trace.lines().empty());

  auto* leaky = new CSharedLocker;
  leaky->LockReadOnly();
  delete leaky;
  ASSERT_EQ(1u, trace.lines().size());
  EXPECT_EQ(
      "[ANTISPAM          ] [    shared_locker.cc:52  ] - WARNING: Destroying the resource locker without "
      "releasing all the Read Only Locks!\n",
      trace.lines()[0]);
  EXPECT_EQ(0, trace.levels()[0]);
}

TEST(AutoLocker, WriteModeHoldsTheLockUntilTheScopeEnds) {
  CSharedLocker locker;
  Counter reader_asking;
  Counter reader_in;
  std::thread reader;
  {
    auto_locker guard(&locker, auto_locker::kWrite, true);
    EXPECT_TRUE(guard.IsLocked());
    reader = WaitingReader(&locker, &reader_asking, &reader_in);
    MustReach(reader_asking, 1, "reader started");
    EXPECT_FALSE(reader_in.WaitFor(1, kStillWaiting)) << "reader entered inside the write scope";
  }
  MustReach(reader_in, 1, "reader entered after the write scope");
  reader.join();
  EXPECT_EQ(0, locker.GetReaderCount());
}

TEST(AutoLocker, ModesOtherThanReadOnlyAndWriteTakeNoLock) {
  // On a locker marked deleted both lock kinds raise, so a guard that does not
  // raise took neither.
  CSharedLocker locker;
  locker.MarkDeleted();
  for (uint32_t mode : {2u, 7u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(mode);
    {
      auto_locker guard(&locker, mode, false);
      EXPECT_FALSE(CatchInternal([&] { guard.Lock(); }).thrown);
      EXPECT_TRUE(guard.IsLocked());
      EXPECT_EQ(0, locker.GetReaderCount());
      guard.Unlock();
      EXPECT_FALSE(guard.IsLocked());
      guard.Lock();
    }
    EXPECT_EQ(0, locker.GetReaderCount()) << "nothing to release";
  }
  locker.ResetDeleteFlag();
}

TEST(AutoLocker, ReadModeCountsOneReaderAndLockUnlockAreIdempotent) {
  CSharedLocker locker;
  {
    auto_locker guard(&locker, auto_locker::kReadOnly, false);
    EXPECT_FALSE(guard.IsLocked());
    EXPECT_EQ(0, locker.GetReaderCount());
    guard.Unlock();  // not locked: nothing to release
    EXPECT_EQ(0, locker.GetReaderCount());

    guard.Lock();
    guard.Lock();
    EXPECT_TRUE(guard.IsLocked());
    EXPECT_EQ(1, locker.GetReaderCount());

    guard.Unlock();
    guard.Unlock();
    EXPECT_FALSE(guard.IsLocked());
    EXPECT_EQ(0, locker.GetReaderCount());

    guard.Lock();
    EXPECT_EQ(1, locker.GetReaderCount());
  }
  EXPECT_EQ(0, locker.GetReaderCount()) << "the destructor releases a held lock";
}

TEST(AutoLocker, NullLockerRaisesAtOnce) {
  CapturingTrace trace;
  Raised r = CatchInternal([] { auto_locker guard(nullptr, auto_locker::kReadOnly, false); });
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ("ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!", r.what);
  EXPECT_EQ(-3, r.code);
  ASSERT_EQ(1u, trace.lines().size());
  EXPECT_EQ(
      "[ANTISPAM EXCEPTION] [    shared_locker.cc:294 ] - ASInternalException - CODE: 0 MESSAGE: "
      "Null locker data in auto_locker!\n",
      trace.lines()[0]);
}

TEST(AutoLocker, StaysUnlockedWhenTheLockerRaises) {
  CSharedLocker locker;
  locker.MarkDeleted();
  {
    auto_locker reader(&locker, auto_locker::kReadOnly, false);
    EXPECT_TRUE(CatchInternal([&] { reader.Lock(); }).thrown);
    EXPECT_FALSE(reader.IsLocked());
  }
  // A destructor that released a lock it never got would drive the count
  // below 0.
  EXPECT_EQ(0, locker.GetReaderCount());

  CapturingTrace trace;
  Raised r = CatchInternal([&] { auto_locker writer(&locker, auto_locker::kWrite, true); });
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(kDeletedText, r.what);

  locker.ResetDeleteFlag();
  auto_locker writer(&locker, auto_locker::kWrite, true);
  EXPECT_TRUE(writer.IsLocked());
}

// Readers check that the two halves of an update always match while a writer
// keeps changing both; plain fields, so a reader overlapping the writer is
// also a data race for TSan.
TEST(SharedLockerStress, ReadersNeverSeeAHalfWrittenUpdate) {
  constexpr int kReaders = 4;
  constexpr int kReads = 3000;
  constexpr int kWrites = 2000;

  CSharedLocker locker;
  struct {
    int64_t first = 0;
    int64_t second = 0;
  } shared;
  std::atomic<int> torn{0};
  std::atomic<int> backwards{0};
  std::atomic<int> writer_saw_readers{0};
  std::atomic<int> reader_saw_no_count{0};
  // Readers between their lock and their unlock. (The locker's own count may
  // briefly include a reader that is stepping back for a writer.)
  std::atomic<int> readers_inside{0};
  std::latch start(kReaders + 1);

  std::vector<std::thread> threads;
  for (int i = 0; i < kReaders; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      int64_t last = 0;
      for (int n = 0; n < kReads; ++n) {
        // Half the readers go through the guard.
        auto_locker guard(&locker, auto_locker::kReadOnly, i % 2 == 0);
        if (!guard.IsLocked()) locker.LockReadOnly();
        if (locker.GetReaderCount() < 1) ++reader_saw_no_count;
        ++readers_inside;
        const int64_t a = shared.first;
        const int64_t b = shared.second;
        if (a != b) ++torn;
        if (a < last) ++backwards;
        last = a;
        --readers_inside;
        if (!guard.IsLocked()) locker.UnlockReadOnly();
      }
    });
  }
  threads.emplace_back([&] {
    start.arrive_and_wait();
    for (int n = 0; n < kWrites; ++n) {
      locker.LockWrite();
      if (readers_inside.load() != 0) ++writer_saw_readers;
      ++shared.first;
      ++shared.second;
      locker.UnlockWrite();
    }
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(0, torn.load());
  EXPECT_EQ(0, backwards.load());
  EXPECT_EQ(0, writer_saw_readers.load());
  EXPECT_EQ(0, reader_saw_no_count.load());
  EXPECT_EQ(kWrites, shared.first);
  EXPECT_EQ(kWrites, shared.second);
  EXPECT_EQ(0, locker.GetReaderCount());
}

}  // namespace
