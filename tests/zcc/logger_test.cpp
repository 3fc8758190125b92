// The diagnostic logger: levels, records, nesting per thread.
#include <gtest/gtest.h>

#include <boost/log/sources/record_ostream.hpp>
#include <thread>

#include "foundation/log.h"
#include "log_capture.h"

namespace {

using foundation::log::basic_diagnostic_logger;

TEST(DiagnosticLevels, TextsGiveMasks) {
  bool valid = false;
  EXPECT_EQ(foundation::log::parse_levels("0x60", valid), 0x60u);
  EXPECT_TRUE(valid);
  EXPECT_EQ(foundation::log::parse_levels("96", valid), 96u);
  EXPECT_TRUE(valid);
  for (const char *bad : {"", "abc", "0x60z", "-1", "99999999999"}) {
    EXPECT_EQ(foundation::log::parse_levels(bad, valid), 0u) << bad;
    EXPECT_FALSE(valid) << bad;
  }
}

TEST(DiagnosticLogger, DisabledLevelOpensNoRecord) {
  zcc_test::LogCapture capture("test::levels");
  basic_diagnostic_logger<char> logger("test::levels", foundation::log::trace_entry);
  EXPECT_FALSE(logger.open_record(foundation::log::trace_exit));
  EXPECT_TRUE(logger.open_record(foundation::log::trace_entry));
}

TEST(DiagnosticLogger, RecordsCarryChannelLevelDepthAndText) {
  zcc_test::LogCapture capture("test::records");
  basic_diagnostic_logger<char> logger("test::records", 0x60);
  logger.increase_nesting();
  boost::log::record record = logger.open_record(foundation::log::trace_exit);
  ASSERT_TRUE(record);
  {
    boost::log::record_ostream text(record);
    text << "hello";
  }
  logger.push_record(std::move(record));
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0].level, 0x40u);
  EXPECT_EQ(capture.records()[0].depth, 1);
  EXPECT_EQ(capture.records()[0].message, "hello");
}

TEST(DiagnosticLogger, NestingDepthIsPerThreadAndNeverNegative) {
  basic_diagnostic_logger<char> logger("test::depth", 0);
  logger.increase_nesting();
  logger.increase_nesting();
  int other_thread_depth = -1;
  std::thread([&] {
    other_thread_depth = logger.nesting_depth();
    logger.increase_nesting();
  }).join();
  EXPECT_EQ(other_thread_depth, 0);
  EXPECT_EQ(logger.nesting_depth(), 2);
  logger.decrease_nesting();
  logger.decrease_nesting();
  logger.decrease_nesting();
  EXPECT_EQ(logger.nesting_depth(), 0);
}

}  // namespace
