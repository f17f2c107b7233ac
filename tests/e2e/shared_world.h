// A test fixture whose tests share one end-to-end world: built once for the
// fixture's tests, removed after the last, skipped where it cannot be built.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {

// A world takes seconds to build, so the tests of `Fixture` share one;
// each test leaves it as it found it. Tests skip when not root or when
// quillon-cli is not built. `Fixture` names its world with
// `static constexpr const char* kWorldPrefix`.
template <class Fixture>
class SharedWorld : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (test::IsRoot() && !CliPath().empty())
      world_ = std::make_unique<World>(Fixture::kWorldPrefix);
  }
  static void TearDownTestSuite() { world_.reset(); }
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
    if (CliPath().empty()) GTEST_SKIP() << "quillon-cli is not built in this configuration";
    ASSERT_TRUE(world_ && world_->ok()) << (world_ ? world_->error() : "no world");
  }
  inline static std::unique_ptr<World> world_;
};

}  // namespace quillon::e2e
