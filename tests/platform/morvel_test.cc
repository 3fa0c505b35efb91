#include "platform/morvel/morvel.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <thread>

#include "common/asalloc.h"

namespace {

TEST(Morvel, SetErrRecordsCodeAndFormattedMessagePerThread) {
  EXPECT_EQ(-104, as_set_err(-104, "Module %s failed: %d", "Im Words Filter", 7));
  EXPECT_EQ(-104, as_last_err_code());
  EXPECT_STREQ("Module Im Words Filter failed: 7", as_last_err_message());
  as_set_err(-1, "%s", std::string(3000, 'x').c_str());
  EXPECT_EQ(1023u, std::string(as_last_err_message()).size());
  EXPECT_EQ(0, as_set_err(0, nullptr));
  EXPECT_STREQ("", as_last_err_message());

  // Clearing the current record forgets code and message.
  as_set_err(-201, "could not load %s", "imwords.dat");
  IASErrorRecord* record = as_get_err()->Current(0);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(-201, record->Code());
  record->Clear();
  EXPECT_EQ(0, as_last_err_code());
  EXPECT_STREQ("", as_last_err_message());

  as_set_err(-103, "main thread");
  int32_t other_before = 1, other_after = 1;
  std::thread other([&] {
    other_before = as_last_err_code();
    as_set_err(-204, "other thread");
    other_after = as_last_err_code();
  });
  other.join();
  EXPECT_EQ(0, other_before);
  EXPECT_EQ(-204, other_after);
  EXPECT_EQ(-103, as_last_err_code());
  EXPECT_STREQ("main thread", as_last_err_message());
}

TEST(Morvel, AllocationAndObjectWrappers) {
  const size_t impossible = ~size_t{0} / 2;
  EXPECT_THROW(as_new_2_9(impossible), std::bad_alloc);
  EXPECT_EQ(nullptr, as_new_nt_2_9(impossible, &ascommon::kNoThrow));
  // Memory from either allocation is freed by either release.
  void* a = as_new_2_9(16);
  void* b = as_new_nt_2_9(16, &ascommon::kNoThrow);
  ASSERT_NE(nullptr, b);
  as_delete_nt_2_9(a, &ascommon::kNoThrow);
  as_delete_2_9(b);
  as_delete_2_9(nullptr);
  as_delete_nt_2_9(nullptr, &ascommon::kNoThrow);

  struct Counted {
    explicit Counted(int* live) : live_(live) { ++*live_; }
    ~Counted() { --*live_; }
    int* live_;
  };
  int live = 0;
  Counted* x = ascommon::New<Counted>(&live);
  Counted* y = ascommon::NewNoThrow<Counted>(&live);
  EXPECT_EQ(2, live);
  ascommon::Delete(x);
  ascommon::Delete(y);
  ascommon::Delete<Counted>(nullptr);
  EXPECT_EQ(0, live);
}

}  // namespace
