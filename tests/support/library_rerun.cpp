// Reruns a test with a first-use library present and hidden; see support.h.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/support.h"

namespace quillon::test {

void RerunWithLibraryAndWithout(const std::string& filter, const std::string& variable,
                                const std::string& soname) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string run = self + " --gtest_filter=" + filter + " 2>&1";
  std::string output;
  EXPECT_EQ(Run(variable + "=present " + run, &output), 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  if (!IsRoot()) GTEST_SKIP() << "the library is hidden in a mount namespace: needs root";
  const std::string library = LibraryFile(soname);
  ASSERT_FALSE(library.empty()) << soname << " is not installed";
  output.clear();
  EXPECT_EQ(Run("unshare -m sh -c 'mount --bind /dev/null " + library + " && " + variable +
                    "=hidden exec " + run + "'",
                &output),
            0)
      << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace quillon::test
