#include "src/common/shared_locker.h"

#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace ascommon {

void CSharedLocker::CAutoResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_one();
}

void CSharedLocker::CAutoResetEvent::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return signalled_; });
  signalled_ = false;
}

CSharedLocker::CSharedLocker() = default;

CSharedLocker::~CSharedLocker() {
  deleted_.store(true);
  if (reader_count_.load() > 0) {
    AS_LOG(0, 52, "WARNING: Destroying the resource locker without releasing all the Read Only Locks!");
  }
}

void CSharedLocker::LockReadOnly() {
  for (;;) {
    // Uncontended, a reader takes no mutex: it counts itself in and checks
    // that no writer holds or is taking the lock.
    reader_count_.fetch_add(1);
    if (!writer_waiting_.load()) {
      if (!deleted_.load()) return;
      ReleaseReader();
      throw ASInternalException(
          0, "ASInternalException - CODE: %d MESSAGE: Unable to lock resource read only because it is being deleted!",
          0);
    }
    // A writer is in: step back and queue behind it on the writer section.
    ReleaseReader();
    writer_section_.lock();
    const bool deleted = deleted_.load();
    writer_section_.unlock();
    if (deleted) {
      throw ASInternalException(
          0, "ASInternalException - CODE: %d MESSAGE: Unable to lock resource read only because it is being deleted!",
          0);
    }
  }
}

void CSharedLocker::UnlockReadOnly() { ReleaseReader(); }

void CSharedLocker::ReleaseReader() {
  if (reader_count_.fetch_sub(1) == 1 && writer_waiting_.load()) readers_gone_.Set();
}

void CSharedLocker::LockWrite() {
  writer_section_.lock();
  if (deleted_.load()) {
    writer_section_.unlock();
    AS_RAISE_CODE(ASInternalException, 149, 0, "Unable to lock resource read only because it is being deleted!");
  }
  writer_waiting_.store(true);
  // The event may hold a stale signal (it starts signalled, and readers may
  // have come and gone before this writer arrived), so the count is checked
  // again after every wake-up.
  count_section_.lock();
  while (reader_count_.load() != 0) {
    count_section_.unlock();
    readers_gone_.Wait();
    count_section_.lock();
  }
}

void CSharedLocker::UnlockWrite() {
  writer_waiting_.store(false);
  count_section_.unlock();
  writer_section_.unlock();
}

void CSharedLocker::MarkDeleted() {
  LockWrite();
  deleted_.store(true);
  UnlockWrite();
}

void CSharedLocker::ResetDeleteFlag() {
  if (!deleted_.load()) {
    AS_RAISE_CODE(ASInternalException, 245, 0, "The resource is not being deleted! Cannot reset its delete flag.");
  }
  deleted_.store(false);
}

bool CSharedLocker::IsDeleted() const { return deleted_.load(); }

int32_t CSharedLocker::GetReaderCount() const { return reader_count_.load(); }

auto_locker::auto_locker(CSharedLocker* locker, uint32_t mode, bool lock_now) : mode_(mode), locker_(locker) {
  if (locker == nullptr) {
    AS_RAISE_CODE(ASInternalException, 294, 0, "Null locker data in auto_locker!");
  }
  if (lock_now) Lock();
}

auto_locker::~auto_locker() { Unlock(); }

void auto_locker::Lock() {
  if (locked_) return;
  // Any other mode takes nothing, but the guard still counts as locked.
  if (mode_ == kReadOnly) {
    locker_->LockReadOnly();
  } else if (mode_ == kWrite) {
    locker_->LockWrite();
  }
  locked_ = true;
}

void auto_locker::Unlock() {
  if (!locked_) return;
  if (mode_ == kReadOnly) {
    locker_->UnlockReadOnly();
  } else if (mode_ == kWrite) {
    locker_->UnlockWrite();
  }
  locked_ = false;
}

bool auto_locker::IsLocked() const { return locked_; }

}  // namespace ascommon
