// The main of every test program. A run where every test that ran passed but some were skipped
// (nginx missing, a limit too low) exits with kSkipExitCode, which CTest reports as skipped
// instead of passed; a failure still exits non-zero as usual.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int failed = RUN_ALL_TESTS();
  if (failed != 0) return failed;
  const bool skipped = ::testing::UnitTest::GetInstance()->skipped_test_count() > 0;
  return skipped ? quillon::testing::kSkipExitCode : 0;
}
