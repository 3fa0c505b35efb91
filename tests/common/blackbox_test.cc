#include "common/blackbox.h"

#include <gtest/gtest.h>

#include <string>

#include "common/item.h"  // the item keys
#include "platform/morvel/morvel.h"

namespace {

using ascommon::CArray;
using ascommon::CBlackBox;
using ascommon::sstring;
using ascommon::usstring;

class BlackBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box_ = CBlackBox::Create();
    ASSERT_NE(nullptr, box_);
    as_set_err(0, nullptr);
  }
  void TearDown() override { CBlackBox::Destroy(box_); }

  void ExpectRecorded(int32_t code, const char* message) {
    EXPECT_EQ(code, as_last_err_code());
    EXPECT_STREQ(message, as_last_err_message());
    as_set_err(0, nullptr);
  }

  CBlackBox* box_ = nullptr;
};

TEST_F(BlackBoxTest, ScalarGetUsesTheDefaultOnlyWithADestination) {
  int32_t out = 0;
  EXPECT_EQ(&out, CBlackBox::Get(box_, 41010, CBlackBox::kInt32, 0, &out, 7));
  EXPECT_EQ(7, out);
  EXPECT_EQ(0, as_last_err_code());

  EXPECT_EQ(nullptr, CBlackBox::Get(box_, 41010, CBlackBox::kInt32, 0, nullptr, 7));
  ExpectRecorded(-301, "no element");

  ASSERT_EQ(0, CBlackBox::Set(box_, 41010, CBlackBox::kInt32, 0, -1));
  EXPECT_EQ(&out, CBlackBox::Get(box_, 41010, CBlackBox::kInt32, 0, &out, 7));
  EXPECT_EQ(-1, out);
  // Another scalar type under the same key counts as absent.
  uint32_t unsigned_out = 0;
  EXPECT_EQ(&unsigned_out, CBlackBox::Get(box_, 41010, CBlackBox::kUInt32, 0, &unsigned_out, 3u));
  EXPECT_EQ(3u, unsigned_out);

  ASSERT_EQ(0, CBlackBox::Set(box_, 1, CBlackBox::kInt64, 0, int64_t{-5000000000}));
  EXPECT_EQ(-5000000000, box_->GetInt64(1, 0));
  EXPECT_EQ(4.0, box_->GetDouble(1, 4.0));

  // Flags are stored as 0 or 1, and so is a flag's default.
  ASSERT_EQ(0, CBlackBox::Set(box_, ascommon::IM_BLACKLIST_FLAG_KEY, CBlackBox::kBool, 0, 5));
  uint8_t flag = 0;
  EXPECT_EQ(&flag, CBlackBox::Get(box_, ascommon::IM_BLACKLIST_FLAG_KEY, CBlackBox::kBool, 0, &flag, 0));
  EXPECT_EQ(1, flag);
  flag = 0;
  EXPECT_EQ(&flag, CBlackBox::Get(box_, 2, CBlackBox::kBool, 0, &flag, 9));
  EXPECT_EQ(1, flag);
}

TEST_F(BlackBoxTest, TextSetReplacesAndGetByModeAndWrongType) {
  // A set replaces the stored value (under ASan: the first one is freed, not leaked).
  ASSERT_EQ(0, CBlackBox::Set(box_, 40002, CBlackBox::kText, 0, std::string(100, 'a').c_str()));
  ASSERT_EQ(0, box_->SetText(40002, "hello"));
  ASSERT_EQ(0, box_->SetInt32(40003, 1));
  ASSERT_EQ(0, CBlackBox::Set(box_, 40003, CBlackBox::kText, 0, "now text"));
  EXPECT_EQ(2u, box_->GetCount());
  EXPECT_EQ(5, box_->GetInt32(40003, 5));

  const char* out = nullptr;
  auto* text = static_cast<const char*>(CBlackBox::Get(box_, 40002, CBlackBox::kText, 0, &out));
  EXPECT_STREQ("hello", text);
  EXPECT_EQ(text, out);
  auto* object = static_cast<sstring*>(CBlackBox::Get(box_, 40002, CBlackBox::kText, 1, nullptr));
  ASSERT_NE(nullptr, object);
  EXPECT_EQ(object, box_->GetText(40002));

  ASSERT_EQ(0, box_->SetInt32(41010, 3));
  out = "stale";
  EXPECT_EQ(nullptr, CBlackBox::Get(box_, 41010, CBlackBox::kText, 0, &out));
  EXPECT_EQ(nullptr, out);
  ExpectRecorded(-301, "no element");
  EXPECT_EQ(nullptr, CBlackBox::Get(box_, 40002, CBlackBox::kText, 2, nullptr));
  ExpectRecorded(-301, "no element");

  // A null text stores a null string.
  ASSERT_EQ(0, CBlackBox::Set(box_, 7, CBlackBox::kText, 0, static_cast<const char*>(nullptr)));
  ASSERT_NE(nullptr, box_->GetText(7));
  EXPECT_TRUE(box_->GetText(7)->is_null());
}

TEST_F(BlackBoxTest, ArrayGetCopiesPartOrTellsTheCount) {
  const char bytes[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  ASSERT_EQ(0, CBlackBox::Set(box_, 5, CBlackBox::kCharArray, 0, bytes, uint64_t{10}));
  char buffer[10] = {};
  uint64_t count = 4;
  EXPECT_EQ(buffer, CBlackBox::Get(box_, 5, CBlackBox::kCharArray, 0, buffer, &count));
  EXPECT_EQ(4u, count);
  EXPECT_EQ(std::string("0123"), std::string(buffer, 4));
  EXPECT_EQ('\0', buffer[4]);

  count = 0;
  EXPECT_EQ(&count, CBlackBox::Get(box_, 5, CBlackBox::kCharArray, 0, nullptr, &count));
  EXPECT_EQ(10u, count);

  EXPECT_EQ(box_->GetArray<CBlackBox::kCharArray>(5),
            CBlackBox::Get(box_, 5, CBlackBox::kCharArray, 1, nullptr, nullptr));

  // The same storage is not an array of another kind.
  EXPECT_EQ(nullptr, CBlackBox::Get(box_, 5, CBlackBox::kIntArray, 0, nullptr, &count));
  ExpectRecorded(-301, "no element");
}

TEST_F(BlackBoxTest, ArraySetFromItemsOrFromAnArray) {
  const char* texts[] = {"alpha", nullptr, "gamma"};
  ASSERT_EQ(0, CBlackBox::Set(box_, 1, CBlackBox::kTextArray, 0, texts, uint64_t{3}));
  const char* out[3] = {};
  uint64_t count = 3;
  ASSERT_EQ(out, CBlackBox::Get(box_, 1, CBlackBox::kTextArray, 0, out, &count));
  EXPECT_STREQ("alpha", out[0]);
  EXPECT_EQ(nullptr, out[1]);
  EXPECT_STREQ("gamma", out[2]);

  CArray<uint64_t, 64> source;
  source.Add(11);
  source.Add(22);
  ASSERT_EQ(0, CBlackBox::Set(box_, 2, CBlackBox::kUInt64Array, 1, &source));
  source.Add(33);  // the box holds its own copy
  ASSERT_NE(nullptr, box_->GetArray<CBlackBox::kUInt64Array>(2));
  EXPECT_EQ(2u, box_->GetArray<CBlackBox::kUInt64Array>(2)->GetCount());

  int32_t ints[] = {-1, 2};
  EXPECT_EQ(-103, CBlackBox::Set(box_, 4, CBlackBox::kIntArray, 0, nullptr, uint64_t{2}));
  ExpectRecorded(-103, "invalid pointer for set");
  EXPECT_EQ(-103, CBlackBox::Set(box_, 4, CBlackBox::kIntArray, 2, ints, uint64_t{2}));
  ExpectRecorded(-103, "invalid pointer for set");
  EXPECT_EQ(-101, CBlackBox::Set(box_, 4, 18, 0, 1));
  ExpectRecorded(-101, "invalid input");
  EXPECT_EQ(nullptr, box_->Find(4));
}

TEST_F(BlackBoxTest, CloneCopiesDeeplyButLeavesOutPointers) {
  int target = 0;
  void* pointers[] = {&target};
  ASSERT_EQ(0, box_->SetPointer(1, &target));
  ASSERT_EQ(0, box_->SetArray<CBlackBox::kPointerArray>(2, pointers, 1));
  ASSERT_EQ(0, box_->SetText(3, "kept"));
  ASSERT_EQ(0, box_->SetDouble(4, 0.25));
  ASSERT_EQ(0, CBlackBox::SetUnicode(box_, 5, "\xC3\xA9t\xC3\xA9"));

  CBlackBox* copy = CBlackBox::Clone(box_);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(3u, copy->GetCount());
  EXPECT_EQ(nullptr, copy->Find(1));
  EXPECT_EQ(nullptr, copy->Find(2));
  ASSERT_NE(nullptr, copy->GetText(3));
  EXPECT_NE(box_->GetText(3), copy->GetText(3));
  EXPECT_STREQ("kept", copy->GetText(3)->c_str());
  EXPECT_EQ(0.25, copy->GetDouble(4, 0.0));
  EXPECT_EQ(std::u16string(u"été"), copy->GetText16(5)->data());
  CBlackBox::Destroy(copy);
}

TEST_F(BlackBoxTest, SetUnicodeStoresBothForms) {
  ASSERT_EQ(0, CBlackBox::SetUnicode(box_, 40002, "gr\xC3\xBC\xC3\x9F"));
  EXPECT_STREQ("gr\xC3\xBC\xC3\x9F",
               static_cast<const char*>(CBlackBox::Get(box_, 40002, CBlackBox::kText, 0, nullptr)));
  EXPECT_EQ(std::u16string(u"grüß"),
            static_cast<const char16_t*>(CBlackBox::Get(box_, 40002, CBlackBox::kUnicodeText, 0)));

  const char* texts[] = {"a\xC3\xA0", "b"};
  ASSERT_EQ(0, CBlackBox::SetUnicodeArray(box_, 9, texts, 2));
  const auto* narrow = box_->GetArray<CBlackBox::kTextArray>(9);
  ASSERT_NE(nullptr, narrow);
  EXPECT_STREQ("a\xC3\xA0", (*narrow)[0].c_str());
  const char16_t* out[2] = {};
  uint64_t count = 2;
  ASSERT_EQ(out, CBlackBox::Get(box_, 9, CBlackBox::kUnicodeTextArray, 0, out, &count));
  EXPECT_EQ(std::u16string(u"aà"), out[0]);
  EXPECT_EQ(std::u16string(u"b"), out[1]);
  EXPECT_EQ(nullptr, CBlackBox::Get(box_, 9, CBlackBox::kUnicodeTextArray, 2, out, &count));
  ExpectRecorded(-301, "no element");

  EXPECT_EQ(-103, CBlackBox::SetUnicode(box_, 1, nullptr));
  ExpectRecorded(-103, "invalid pointer for set unicode");
  EXPECT_EQ(-50, CBlackBox::SetUnicode(box_, 1, "\x80"));
  ExpectRecorded(-50, "invalid UTF-8 for set unicode");
  EXPECT_EQ(nullptr, box_->Find(1));
}

}  // namespace
