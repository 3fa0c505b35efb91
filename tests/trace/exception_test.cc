#include "src/exceptions/asexception.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(Exceptions, TextsAndCodesOfEachClass) {
  auto check = [](const AException& e, const char* what, int32_t code) {
    SCOPED_TRACE(what);
    EXPECT_STREQ(what, e.what());
    EXPECT_EQ(code, e.GetCode());
    EXPECT_FALSE(e.GetFlag());
  };
  check(AException(), "Antispam Exception", -1);
  check(ASException(), "unknown exception", -1);
  check(ASException("read %d of %s", 3, "imwords.dat"), "read 3 of imwords.dat", -1);
  check(ASException(-700, "Could not access file [%s]", "x"), "Could not access file [x]", -700);
  check(ASException(static_cast<const char*>(nullptr)), "unknown exception", 0);
  check(ASBadPtrException("x"), "x", -1);
  check(ASFileException("x"), "x", -1);
  check(ASMemException("x"), "x", -2);
  check(ASMemException(static_cast<const char*>(nullptr)), "unknown exception", -2);
  check(InvalidIndexException(), "unknown exception", -301);
  // The code in the text is only text: the class keeps its own code.
  check(ASInternalException("ASInternalException - CODE: %d MESSAGE: Null locker!", 0),
        "ASInternalException - CODE: 0 MESSAGE: Null locker!", -3);
  check(ASInternalException(0, "being deleted"), "being deleted", 0);
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
