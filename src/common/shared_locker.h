// CSharedLocker: a many-readers / one-writer lock for the shared resources
// (dictionaries, settings, models) that filter threads read while a loader
// may replace them; and auto_locker, its scope guard.
//
// A writer holds the writer section for the whole write lock; a reader only
// passes through it, so new readers queue behind a writer that is waiting for
// the current readers to leave. The readers-gone event tells a waiting writer
// that the reader count reached 0.
//
// Once the delete flag is set (MarkDeleted or the destructor) both lock kinds
// raise ASInternalException, so late users of a resource being torn down fail
// instead of blocking.
//
// Thread affinity: the write lock is a std::mutex held across the LockWrite /
// UnlockWrite calls, so UnlockWrite must run on the thread that called
// LockWrite. Read-only locks are only a count and may be released anywhere.
#ifndef TERVO_SRC_COMMON_SHARED_LOCKER_H_
#define TERVO_SRC_COMMON_SHARED_LOCKER_H_

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace ascommon {

class CSharedLocker {
 public:
  CSharedLocker();
  // Sets the delete flag and warns in the log when read-only locks are still
  // counted. No thread may hold or wait for the write lock at this point.
  ~CSharedLocker();

  CSharedLocker(const CSharedLocker&) = delete;
  CSharedLocker& operator=(const CSharedLocker&) = delete;

  // Waits while a writer holds (or is acquiring) the lock, then counts one
  // more reader; without a writer it takes no mutex. Raises
  // ASInternalException (code 0, no log line) when the delete flag is set.
  void LockReadOnly();
  // Counts one reader less; the last one out wakes a waiting writer.
  void UnlockReadOnly();
  // Takes the writer section, then waits until no reader is counted; returns
  // holding the writer and count sections. Raises ASInternalException (with
  // a log line) when the delete flag is set.
  void LockWrite();
  // Releases the count section, then the writer section. Same thread as the
  // matching LockWrite.
  void UnlockWrite();

  // Takes the write lock (so waits for the readers to leave), sets the delete
  // flag and releases the lock. Raises as LockWrite when the flag is already
  // set.
  void MarkDeleted();
  // Clears the delete flag; raises ASInternalException when it is not set.
  void ResetDeleteFlag();
  bool IsDeleted() const;
  // A snapshot of the number of read-only locks held; it may briefly count a
  // reader that is stepping back for a writer.
  int32_t GetReaderCount() const;

 private:
  // An auto-reset event: Set() leaves it signalled until one Wait() consumes
  // the signal. Signals do not accumulate.
  class CAutoResetEvent {
   public:
    explicit CAutoResetEvent(bool signalled) : signalled_(signalled) {}
    void Set();
    void Wait();

   private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
  };

  // Counts one reader less; wakes the writer when it waits for the last.
  void ReleaseReader();

  CAutoResetEvent readers_gone_{true};
  std::mutex writer_section_;
  // Readers count themselves in and out without a lock (one atomic each way);
  // a writer announces itself in writer_waiting_ before it looks at the
  // count. Both are sequentially consistent, so either the reader sees the
  // writer and steps back, or the writer sees the reader and waits for it.
  std::atomic<int32_t> reader_count_{0};
  std::mutex count_section_;
  std::atomic<bool> writer_waiting_{false};
  // Set under the write lock, cleared by ResetDeleteFlag without one.
  std::atomic<bool> deleted_{false};
};

// Holds a read-only or write lock of a CSharedLocker for a scope. The same
// thread affinity as the locker's write lock applies in write mode.
class auto_locker {
 public:
  enum Mode : uint32_t { kReadOnly = 0, kWrite = 1 };

  // Raises ASInternalException when `locker` is null. A mode other than
  // kReadOnly and kWrite takes no lock (the guard still reports itself
  // locked). With `lock_now`, locks at once (and raises as the locker does).
  auto_locker(CSharedLocker* locker, uint32_t mode, bool lock_now);
  // Unlocks when locked.
  ~auto_locker();

  auto_locker(const auto_locker&) = delete;
  auto_locker& operator=(const auto_locker&) = delete;

  // Locks when not locked; stays unlocked when the locker raises.
  void Lock();
  // Unlocks when locked.
  void Unlock();
  bool IsLocked() const;

 private:
  bool locked_ = false;
  uint32_t mode_;
  CSharedLocker* locker_;
};

}  // namespace ascommon

#endif  // TERVO_SRC_COMMON_SHARED_LOCKER_H_
