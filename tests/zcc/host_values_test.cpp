// The string and matrix stand-ins, the panic and the exception type.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "calvex/host.h"
#include "calvex_string.h"
#include "child_process.h"
#include "deployed_exception.h"
#include "matrix.h"
#include "system_panic.h"

namespace {

struct Value {
  explicit Value(hxArray *a) : array(a) {}
  ~Value() { hxDestroyArray(array); }
  hxArray *array;
};

TEST(ScalarText, CharRowVectorGivesItsUnits) {
  Value v(hxCreateString("ab\xC3\xA9"));
  fl::ustring text;
  ASSERT_TRUE(String::getScalarText(v.array, text, true));
  EXPECT_EQ(text, u"ab\u00E9");
}

TEST(ScalarText, EmptyCharArrayGivesEmptyText) {
  const hxSize dims[2] = {0, 0};
  Value v(hxCreateCharArray(2, dims));
  fl::ustring text = u"old";
  ASSERT_TRUE(String::getScalarText(v.array, text, true));
  EXPECT_TRUE(text.empty());
}

TEST(ScalarText, CharMatrixWithSeveralRowsIsRefused) {
  const hxSize dims[2] = {2, 3};
  Value v(hxCreateCharArray(2, dims));
  fl::ustring text = u"old";
  EXPECT_FALSE(String::getScalarText(v.array, text, true));
  EXPECT_EQ(text, u"old");
}

TEST(ScalarText, StringScalarAcceptedOnlyWhenAllowed) {
  Value v(hxCreateStringScalar("-v"));
  fl::ustring text;
  EXPECT_FALSE(String::getScalarText(v.array, text, false));
  ASSERT_TRUE(String::getScalarText(v.array, text, true));
  EXPECT_EQ(text, u"-v");
}

TEST(ScalarText, NumericAndNullAreRefused) {
  Value v(hxCreateDoubleScalar(1));
  fl::ustring text;
  EXPECT_FALSE(String::getScalarText(v.array, text, true));
  EXPECT_FALSE(String::getScalarText(nullptr, text, true));
}

TEST(Matrix, CreatesCharArrayOfTheGivenSize) {
  const hxSize dims[2] = {1, 5};
  hxArray *a = matrix::detail::do_create_uninitnumeric(2, dims, hxCHAR_CLASS, hxREAL);
  EXPECT_TRUE(hxIsChar(a));
  EXPECT_EQ(hxGetN(a), 5u);
  matrix::destroyArray(a);
  matrix::destroyArray(nullptr);
}

TEST(Matrix, CreatesNumericArrays) {
  const hxSize dims[2] = {2, 2};
  hxArray *a = matrix::detail::do_create_uninitnumeric(2, dims, hxINT32_CLASS, hxREAL);
  EXPECT_TRUE(hxIsInt32(a));
  matrix::destroyArray(a);
}

TEST(Matrix, StructClassIsRefused) {
  const hxSize dims[2] = {1, 1};
  EXPECT_THROW(matrix::detail::do_create_uninitnumeric(2, dims, hxSTRUCT_CLASS, hxREAL), std::invalid_argument);
}

TEST(Panic, WritesCodeAndTextThenAborts) {
  const auto child = test_support::capture_in_child([] {
    System::panicsf(3, "%s", "the contexts failed");
    return 0;
  });
  EXPECT_EQ(child.signal(), SIGABRT);
  EXPECT_EQ(child.err, "Panic (code 3): the contexts failed\n");
}

TEST(DeployedExceptionType, CarriesMessageAndIdentifierAndIsAStandardException) {
  try {
    throw DeployedException("it broke", "PKG_X");
  } catch (const std::exception &e) {
    EXPECT_STREQ(e.what(), "it broke");
    EXPECT_EQ(dynamic_cast<const DeployedException &>(e).identifier(), "PKG_X");
  }
}

}  // namespace
