#include "src/common/shared_locker.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::auto_locker;
using ascommon::CSharedLocker;
using tervo_test::CapturingTrace;

constexpr const char* kDeletedText =
    "ASInternalException - CODE: 0 MESSAGE: Unable to lock resource read only because it is being deleted!";

// True once `count` reaches `n`; false when `timeout` passes first.
bool WaitFor(const std::atomic<int>& count, int n, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (count.load() < n) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Watches for 100 ms for something that must not happen yet.
bool HappensSoon(const std::atomic<int>& count, int n) {
  return WaitFor(count, n, std::chrono::milliseconds(100));
}

// Waits for something the test depends on. Not getting it means the threads are deadlocked and
// joining them would hang, so the program stops here.
void MustReach(const std::atomic<int>& count, int n, const char* what) {
  if (!WaitFor(count, n, std::chrono::seconds(20))) {
    fprintf(stderr, "deadlock: %s did not happen\n", what);
    abort();
  }
}

// The text of the ASInternalException `f` raises ("" when none), and its code.
std::string Raised(const std::function<void()>& f, int32_t* code = nullptr) {
  try {
    f();
  } catch (const ASInternalException& e) {
    if (code != nullptr) *code = e.GetCode();
    return e.what();
  }
  return "";
}

TEST(SharedLockerTest, WriterWaitsUntilEveryReaderHasUnlocked) {
  CSharedLocker locker;
  std::atomic<int> inside{0}, unlock_first{0}, unlock_second{0}, first_gone{0}, writer_asking{0},
      writer_in{0};
  auto reader = [&](std::atomic<int>& unlock, std::atomic<int>* gone) {
    locker.LockReadOnly();
    ++inside;
    MustReach(unlock, 1, "reader release");
    locker.UnlockReadOnly();
    if (gone != nullptr) ++*gone;
  };
  std::thread first(reader, std::ref(unlock_first), &first_gone);
  std::thread second(reader, std::ref(unlock_second), nullptr);
  MustReach(inside, 2, "both readers inside");  // readers are not exclusive
  EXPECT_EQ(2, locker.GetReaderCount());

  std::atomic<int32_t> readers_seen_by_writer{-1};
  std::thread writer([&] {
    ++writer_asking;
    locker.LockWrite();
    readers_seen_by_writer = locker.GetReaderCount();
    ++writer_in;
    locker.UnlockWrite();
  });
  MustReach(writer_asking, 1, "writer started");
  // The event starts signalled, so the writer wakes once and must wait again.
  EXPECT_FALSE(HappensSoon(writer_in, 1)) << "writer entered with two readers inside";
  ++unlock_first;
  MustReach(first_gone, 1, "first reader unlocked");
  EXPECT_FALSE(HappensSoon(writer_in, 1)) << "writer entered with one reader inside";
  ++unlock_second;
  MustReach(writer_in, 1, "writer entered after the last reader left");
  first.join();
  second.join();
  writer.join();
  EXPECT_EQ(0, readers_seen_by_writer.load());
  EXPECT_EQ(0, locker.GetReaderCount());
}

// One thread holds the locker; another asks for it and must wait until the holder lets go.
TEST(SharedLockerTest, WaitersBlockUntilTheHolderLetsGo) {
  using Step = std::function<void(CSharedLocker&, std::optional<auto_locker>&)>;
  const Step lock_write = [](CSharedLocker& l, std::optional<auto_locker>&) { l.LockWrite(); };
  const Step unlock_write = [](CSharedLocker& l, std::optional<auto_locker>&) { l.UnlockWrite(); };
  const auto read = [](CSharedLocker& l) { l.LockReadOnly(), l.UnlockReadOnly(); };
  const struct {
    const char* name;
    Step hold, let_go;
    std::function<void(CSharedLocker&)> wait;
  } rows[] = {
      {"reader behind a writer", lock_write, unlock_write, read},
      {"writer behind a writer", lock_write, unlock_write,
       [](CSharedLocker& l) { l.LockWrite(), l.UnlockWrite(); }},
      {"reader behind a write guard",
       [](CSharedLocker& l, std::optional<auto_locker>& g) { g.emplace(&l, auto_locker::kWrite, true); },
       [](CSharedLocker&, std::optional<auto_locker>& g) { g.reset(); }, read},
      {"delete behind a reader", [](CSharedLocker& l, std::optional<auto_locker>&) { l.LockReadOnly(); },
       [](CSharedLocker& l, std::optional<auto_locker>&) { l.UnlockReadOnly(); },
       [](CSharedLocker& l) { l.MarkDeleted(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CSharedLocker locker;
    std::optional<auto_locker> guard;
    row.hold(locker, guard);
    std::atomic<int> asking{0}, done{0};
    std::thread waiter([&] {
      ++asking;
      row.wait(locker);
      ++done;
    });
    MustReach(asking, 1, "waiter started");
    EXPECT_FALSE(HappensSoon(done, 1)) << "got in while the holder held on";
    EXPECT_FALSE(locker.IsDeleted());
    row.let_go(locker, guard);
    MustReach(done, 1, "waiter got in after the holder let go");
    waiter.join();
    EXPECT_EQ(0, locker.GetReaderCount());
  }
}

// What raises, with its text, code and the line of shared_locker.cc that logs it (0: not logged).
TEST(SharedLockerTest, RaisesWithTextCodeAndLogLine) {
  constexpr int32_t kDefault = ASInternalException::kDefaultCode;
  const struct {
    const char* name;
    bool deleted;  // MarkDeleted before the call
    std::function<void(CSharedLocker&)> call;
    const char* what;
    int32_t code;
    int log_line;
  } rows[] = {
      {"read lock while deleted", true, [](CSharedLocker& l) { l.LockReadOnly(); }, kDeletedText, 0, 0},
      {"write lock while deleted", true, [](CSharedLocker& l) { l.LockWrite(); }, kDeletedText, kDefault, 149},
      {"deleted twice", true, [](CSharedLocker& l) { l.MarkDeleted(); }, kDeletedText, kDefault, 149},
      {"write guard while deleted", true,
       [](CSharedLocker& l) { auto_locker g(&l, auto_locker::kWrite, true); }, kDeletedText, kDefault, 149},
      // The texts name code 0; the exception keeps its class's code.
      {"reset while not deleted", false, [](CSharedLocker& l) { l.ResetDeleteFlag(); },
       "ASInternalException - CODE: 0 MESSAGE: The resource is not being deleted! Cannot reset its delete flag.",
       -3, 245},
      {"guard over no locker", false,
       [](CSharedLocker&) { auto_locker g(nullptr, auto_locker::kReadOnly, false); },
       "ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!", -3, 294},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CSharedLocker locker;
    if (row.deleted) locker.MarkDeleted();
    CapturingTrace trace;
    int32_t code = 1;
    EXPECT_EQ(row.what, Raised([&] { row.call(locker); }, &code));
    EXPECT_EQ(row.code, code);
    const std::vector<std::string> lines = trace.lines();
    if (row.log_line == 0) {
      EXPECT_TRUE(lines.empty());
    } else {
      ASSERT_EQ(1u, lines.size());
      EXPECT_EQ("[ANTISPAM EXCEPTION] [    shared_locker.cc:" + std::to_string(row.log_line) + " ] - " +
                    row.what + "\n",
                lines[0]);
      EXPECT_EQ(0, trace.levels()[0]);
    }
    // The raise took no section: after a reset both locks work on this thread without blocking.
    EXPECT_EQ(row.deleted, locker.IsDeleted());
    EXPECT_EQ(0, locker.GetReaderCount());
    if (row.deleted) locker.ResetDeleteFlag();
    locker.LockReadOnly();
    EXPECT_EQ(1, locker.GetReaderCount());
    locker.UnlockReadOnly();
    locker.LockWrite();
    locker.UnlockWrite();
  }
}

TEST(SharedLockerTest, DestructorWarnsOnlyWhenReadersAreStillCounted) {
  CapturingTrace trace;
  {
    CSharedLocker clean;
    clean.LockReadOnly();
    clean.UnlockReadOnly();
  }
  EXPECT_TRUE(trace.lines().empty());
  auto* leaky = new CSharedLocker;
  leaky->LockReadOnly();
  delete leaky;
  EXPECT_EQ(std::vector<std::string>{"[ANTISPAM          ] [    shared_locker.cc:52  ] - WARNING: "
                                     "Destroying the resource locker without releasing all the Read "
                                     "Only Locks!\n"},
            trace.lines());
}

TEST(SharedLockerTest, GuardModesAndIdempotentLockUnlock) {
  CSharedLocker locker;
  {
    auto_locker guard(&locker, auto_locker::kReadOnly, false);
    EXPECT_FALSE(guard.IsLocked());
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
  }
  EXPECT_EQ(0, locker.GetReaderCount()) << "the destructor releases a held lock";

  // Other modes take no lock: on a locker marked deleted both lock kinds raise, so a guard that
  // does not raise took neither.
  locker.MarkDeleted();
  for (uint32_t mode : {2u, 0xFFFFFFFFu}) {
    auto_locker guard(&locker, mode, false);
    EXPECT_EQ("", Raised([&] { guard.Lock(); })) << mode;
    EXPECT_TRUE(guard.IsLocked());
    EXPECT_EQ(0, locker.GetReaderCount());
  }
  // A guard whose lock raised stays unlocked: releasing a lock it never got would drive the
  // count below 0.
  {
    auto_locker reader(&locker, auto_locker::kReadOnly, false);
    EXPECT_EQ(kDeletedText, Raised([&] { reader.Lock(); }));
    EXPECT_FALSE(reader.IsLocked());
  }
  EXPECT_EQ(0, locker.GetReaderCount());
}

// Readers check that the two halves of an update always match while a writer keeps changing
// both; plain fields, so a reader overlapping the writer is also a data race for TSan.
TEST(SharedLockerTest, ReadersNeverSeeAHalfWrittenUpdate) {
  constexpr int kReaders = 4, kReads = 3000, kWrites = 2000;
  CSharedLocker locker;
  int64_t first = 0, second = 0;
  std::atomic<int> torn{0}, backwards{0}, writer_saw_readers{0}, reader_saw_no_count{0};
  // Readers between their lock and their unlock. (The locker's own count may briefly include a
  // reader that is stepping back for a writer.)
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
        const int64_t a = first;
        if (a != second) ++torn;
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
      ++first;
      ++second;
      locker.UnlockWrite();
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, torn.load() + backwards.load() + writer_saw_readers.load() + reader_saw_no_count.load());
  EXPECT_EQ(kWrites, first);
  EXPECT_EQ(kWrites, second);
  EXPECT_EQ(0, locker.GetReaderCount());
}

}  // namespace
