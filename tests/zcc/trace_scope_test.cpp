// Entry and exit records of the gateway's trace scopes.
#include <gtest/gtest.h>

#include <stdexcept>

#include "log_capture.h"
#include "trace_scope.h"

namespace {

constexpr const char *kChannel = "test::trace";

TEST(TraceScope, EntryAndExitRecordsCarrySignatureLocationAndNesting) {
  zcc_test::LogCapture capture(kChannel);
  DiagnosticLogger logger(kChannel, 0x60);
  {
    TraceScope outer(logger, "void outer()", "zcc", 157);
    TraceScope inner(logger, "bool inner()", "zcc", 99);
  }
  const auto &r = capture.records();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].message, "void outer()");
  EXPECT_EQ(r[0].level, 32u);
  EXPECT_EQ(r[0].depth, 0);
  EXPECT_EQ(r[0].file, "zcc");
  EXPECT_EQ(r[0].line, 157);
  EXPECT_EQ(r[1].message, "bool inner()");
  EXPECT_EQ(r[1].depth, 1);
  EXPECT_EQ(r[2].message, "bool inner()");
  EXPECT_EQ(r[2].level, 64u);
  EXPECT_EQ(r[2].depth, 1);
  EXPECT_EQ(r[2].line, 99);
  EXPECT_EQ(r[3].message, "void outer()");
  EXPECT_EQ(r[3].level, 64u);
  EXPECT_EQ(r[3].depth, 0);
  EXPECT_EQ(logger.nesting_depth(), 0);
}

TEST(TraceScope, ExitWhileAnExceptionUnwindsIsMarkedThrow) {
  zcc_test::LogCapture capture(kChannel);
  DiagnosticLogger logger(kChannel, 0x60);
  try {
    TraceScope scope(logger, "void step()", "zcc", 1);
    throw std::runtime_error("failed");
  } catch (const std::runtime_error &) {
  }
  ASSERT_EQ(capture.records().size(), 2u);
  EXPECT_EQ(capture.records()[1].message, "void step() [throw]");
}

TEST(TraceScope, ExitInsideACatchHandlerIsNotMarked) {
  zcc_test::LogCapture capture(kChannel);
  DiagnosticLogger logger(kChannel, 0x60);
  try {
    throw std::runtime_error("handled");
  } catch (const std::runtime_error &) {
    TraceScope scope(logger, "void handler()", "zcc", 1);
  }
  ASSERT_EQ(capture.records().size(), 2u);
  EXPECT_EQ(capture.records()[1].message, "void handler()");
}

TEST(TraceScope, NothingIsWrittenWhenEntryLevelIsOff) {
  zcc_test::LogCapture capture(kChannel);
  DiagnosticLogger logger(kChannel, 0x40);
  { TraceScope scope(logger, "void step()", "zcc", 1); }
  EXPECT_TRUE(capture.records().empty());
  EXPECT_EQ(logger.nesting_depth(), 0);
}

TEST(TraceScope, OnlyEntryIsWrittenWhenExitLevelIsOff) {
  zcc_test::LogCapture capture(kChannel);
  DiagnosticLogger logger(kChannel, 0x20);
  { TraceScope scope(logger, "void step()", "zcc", 1); }
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0].level, 32u);
  EXPECT_EQ(logger.nesting_depth(), 0);
}

TEST(TraceScope, FailureWhileWritingTheExitRecordIsSwallowed) {
  zcc_test::LogCapture capture(kChannel);
  capture.backend().fail_on(64);
  DiagnosticLogger logger(kChannel, 0x60);
  EXPECT_NO_THROW({ TraceScope scope(logger, "void step()", "zcc", 1); });
  EXPECT_EQ(capture.records().size(), 1u);
}

TEST(TraceScope, ModuleLoggerUsesTheGatewayChannel) { EXPECT_EQ(zcc_logger().channel(), "deployment::zcc_ext"); }

}  // namespace
