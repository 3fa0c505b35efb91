#include "src/exceptions/asexception.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(Exceptions, BaseAndDefaultTexts) {
  AException plain;
  EXPECT_STREQ("Antispam Exception", plain.what());
  EXPECT_EQ(-1, plain.GetCode());
  EXPECT_FALSE(plain.GetFlag());

  ASException empty;
  EXPECT_STREQ("unknown exception", empty.what());
  EXPECT_EQ(-1, empty.GetCode());
  EXPECT_FALSE(empty.GetFlag());

  ASException formatted("read %d of %s", 3, "imwords.dat");
  EXPECT_STREQ("read 3 of imwords.dat", formatted.what());

  ASException with_code(-700, "Could not access file [%s]", "x");
  EXPECT_EQ(-700, with_code.GetCode());
  EXPECT_STREQ("Could not access file [x]", with_code.what());

  ASException null_format(static_cast<const char*>(nullptr));
  EXPECT_EQ(0, null_format.GetCode());
  EXPECT_STREQ("unknown exception", null_format.what());
}

TEST(Exceptions, SubclassesSetTheirOwnCodes) {
  EXPECT_EQ(-1, ASBadPtrException("x").GetCode());
  EXPECT_EQ(-1, ASBadCastException("x").GetCode());
  EXPECT_EQ(-2, ASMemException("x").GetCode());
  EXPECT_EQ(-1, ASFileException("x").GetCode());
  EXPECT_EQ(-1, BadSetting("x").GetCode());
  EXPECT_EQ(-1, IterationTimeExceeded("x").GetCode());
  EXPECT_EQ(-1, KnnInconsistency("x").GetCode());
  EXPECT_EQ(-1, ASBadFeatureType("x").GetCode());
  EXPECT_EQ(-1, ASBadFeatureNumber("x").GetCode());
  EXPECT_EQ(-1, ASEmptyFeature("x").GetCode());
  EXPECT_EQ(-1, ASAbnormalFeatureSet("x").GetCode());
  EXPECT_EQ(-2, ASMemException(static_cast<const char*>(nullptr)).GetCode());

  InvalidIndexException index;
  EXPECT_EQ(-301, index.GetCode());
  EXPECT_STREQ("unknown exception", index.what());

  // The code in the text is only text: the class keeps its own code.
  ASInternalException internal(
      "ASInternalException - CODE: %d MESSAGE: Null locker data in auto_locker!", 0);
  EXPECT_EQ(-3, internal.GetCode());
  EXPECT_STREQ("ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!",
               internal.what());
  EXPECT_EQ(0, ASInternalException(0, "being deleted").GetCode());
}

TEST(Exceptions, MessageIsCutAt512AndCopiedWhole) {
  std::string long_text(600, 'q');
  ASFileException e("%s", long_text.c_str());
  EXPECT_EQ(std::string(512, 'q'), e.what());

  ASFileException copy = e;
  EXPECT_EQ(std::string(512, 'q'), copy.what());
  EXPECT_EQ(e.GetCode(), copy.GetCode());
}

TEST(Exceptions, RaiseLogsThenThrowsTheSameText) {
  tervo_test::CapturingTrace capture;
  try {
    AS_RAISE(ASBadPtrException, 226, "[IM Words Filter] Invalid item to process");
    FAIL() << "no throw";
  } catch (const std::exception& e) {
    EXPECT_STREQ("ASBadPtrException - MESSAGE: [IM Words Filter] Invalid item to process",
                 e.what());
    ASSERT_NE(nullptr, dynamic_cast<const ASBadPtrException*>(&e));
  }
  ASSERT_EQ(1u, capture.lines().size());
  EXPECT_EQ("[ANTISPAM EXCEPTION] [   exception_test.cc:226 ] - ASBadPtrException - MESSAGE: "
            "[IM Words Filter] Invalid item to process\n",
            capture.lines()[0]);
  EXPECT_EQ(0, capture.levels()[0]);
}

TEST(Exceptions, RaiseWithCodePutsTheCodeBeforeTheArguments) {
  tervo_test::CapturingTrace capture;
  int evaluations = 0;
  auto next_code = [&] {
    ++evaluations;
    return -700;
  };
  try {
    AS_RAISE_CODE(ASFileException, 9, next_code(), "Could not access file [%s]", "a.dat");
    FAIL() << "no throw";
  } catch (const AException& e) {
    EXPECT_STREQ("ASFileException - CODE: -700 MESSAGE: Could not access file [a.dat]", e.what());
    EXPECT_EQ(-1, e.GetCode());
  }
  EXPECT_EQ(1, evaluations);
  ASSERT_EQ(1u, capture.lines().size());
  EXPECT_EQ("[ANTISPAM EXCEPTION] [   exception_test.cc:9   ] - ASFileException - CODE: -700 "
            "MESSAGE: Could not access file [a.dat]\n",
            capture.lines()[0]);
}

TEST(Exceptions, QuietRaisesWriteNoLine) {
  tervo_test::CapturingTrace capture;
  EXPECT_THROW(AS_THROW_QUIET(ASException, "x"), ASException);
  try {
    AS_THROW_QUIET_CODE(ASInternalException, 0,
                        "Unable to lock resource read only because it is being deleted!");
  } catch (const ASException& e) {
    EXPECT_STREQ("ASInternalException - CODE: 0 MESSAGE: Unable to lock resource read only "
                 "because it is being deleted!",
                 e.what());
    EXPECT_EQ(-3, e.GetCode());
  }
  EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
