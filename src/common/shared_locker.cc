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
  // Passing through the writer section queues this reader behind any writer.
  writer_section_.lock();
  if (deleted_.load()) {
    writer_section_.unlock();
    throw ASInternalException(
        0, "ASInternalException - CODE: %d MESSAGE: Unable to lock resource read only because it is being deleted!",
        0);
  }
  writer_section_.unlock();

  std::lock_guard<std::mutex> count(count_section_);
  reader_count_.fetch_add(1);
}

void CSharedLocker::UnlockReadOnly() {
  std::lock_guard<std::mutex> count(count_section_);
  if (reader_count_.fetch_sub(1) - 1 == 0) readers_gone_.Set();
}

void CSharedLocker::LockWrite() {
  writer_section_.lock();
  if (deleted_.load()) {
    writer_section_.unlock();
    AS_RAISE_CODE(ASInternalException, 149, 0, "Unable to lock resource read only because it is being deleted!");
  }
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
  if (mode_ == kReadOnly) {
    locker_->LockReadOnly();
  } else {
    locker_->LockWrite();
  }
  locked_ = true;
}

void auto_locker::Unlock() {
  if (!locked_) return;
  if (mode_ == kReadOnly) {
    locker_->UnlockReadOnly();
  } else {
    locker_->UnlockWrite();
  }
  locked_ = false;
}

bool auto_locker::IsLocked() const { return locked_; }

}  // namespace ascommon
