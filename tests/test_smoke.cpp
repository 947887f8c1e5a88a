#include <gtest/gtest.h>

#include "tests/support.h"

TEST(Smoke, HelpPrintsUsage) {
  auto r = veltrane::test::RunCli({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: veltrane-recover"), std::string::npos);
}
