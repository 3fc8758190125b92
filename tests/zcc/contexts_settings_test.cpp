// The basic contexts and the settings write queue.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "basic_contexts.h"
#include "scratch_dir.h"
#include "settings/core.h"
#include "support.h"

namespace {

using test_support::ScratchDir;
using zcc_test::ScopedEnv;

struct FatalCall {
  std::string text;
  std::string detail;
};

void throwing_fatal(void *, const char *text, int length, const char *detail) {
  throw FatalCall{std::string(text, static_cast<std::size_t>(length)), detail};
}

TEST(BasicContexts, SetUpUsesTmpdirAsTemporaryFolder) {
  ScratchDir dir;
  ScopedEnv tmp("TMPDIR", dir.path());
  BasicContexts contexts;
  ASSERT_EQ(utInitializeBasicContexts(&contexts, throwing_fatal, 0), 0);
  EXPECT_EQ(contexts.compiler.temporary_folder, dir.path());
  EXPECT_EQ(contexts.compiler.fatal, &throwing_fatal);
  utClearBasicContexts(&contexts);
  EXPECT_EQ(contexts.compiler.fatal, nullptr);
}

TEST(BasicContexts, MissingTemporaryFolderFailsWithMessageNamingIt) {
  ScopedEnv tmp("TMPDIR", "/nonexistent/zcc-tmp");
  BasicContexts contexts;
  EXPECT_NE(utInitializeBasicContexts(&contexts, throwing_fatal, 0), 0);
  EXPECT_EQ(contexts.error.message,
            "Cannot set up the basic contexts: the temporary folder '/nonexistent/zcc-tmp' is not a directory");
}

TEST(BasicContexts, UnknownFlagsFail) {
  BasicContexts contexts;
  EXPECT_NE(utInitializeBasicContexts(&contexts, throwing_fatal, 4), 0);
  EXPECT_NE(contexts.error.message.find("flags 4"), std::string::npos);
}

TEST(BasicContexts, NullContextsThrow) {
  EXPECT_THROW(utInitializeBasicContexts(nullptr, throwing_fatal, 0), std::invalid_argument);
}

TEST(BasicContexts, FatalReportReachesTheCallbackWithItsDetail) {
  BasicContexts contexts;
  ASSERT_EQ(utInitializeBasicContexts(&contexts, throwing_fatal, 0), 0);
  try {
    utReportFatal(&contexts.compiler, "out of memory");
  } catch (const FatalCall &call) {
    EXPECT_EQ(call.text, "Fatal error");
    EXPECT_EQ(call.detail, "out of memory");
  }
}

TEST(SettingsQueue, WritesRunInOrderAndTheQueueEmpties) {
  std::vector<int> order;
  settings::core::queueWrite([&] { order.push_back(1); });
  settings::core::queueWrite([&] { order.push_back(2); });
  EXPECT_EQ(settings::core::pendingWrites(), 2u);
  settings::core::waitForWriteQueueToFinish();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(settings::core::pendingWrites(), 0u);
}

TEST(SettingsQueue, WriteQueuedWhileDrainingAlsoRuns) {
  bool second = false;
  settings::core::queueWrite([&] { settings::core::queueWrite([&] { second = true; }); });
  settings::core::waitForWriteQueueToFinish();
  EXPECT_TRUE(second);
}

TEST(SettingsQueue, FailingWriteIsDroppedAndLaterOnesStayQueued) {
  bool later = false;
  settings::core::queueWrite([] { throw std::runtime_error("disk full"); });
  settings::core::queueWrite([&] { later = true; });
  EXPECT_THROW(settings::core::waitForWriteQueueToFinish(), std::runtime_error);
  EXPECT_FALSE(later);
  EXPECT_EQ(settings::core::pendingWrites(), 1u);
  settings::core::waitForWriteQueueToFinish();
  EXPECT_TRUE(later);
}

}  // namespace
