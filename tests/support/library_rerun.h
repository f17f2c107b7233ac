// Runs a test again in a child process with a shared library present and
// hidden, for libraries that the code loads at first use.
#pragma once

#include <string>

namespace quillon::test {

// For a library loaded at first use: runs this test program again, only for
// `filter`, with `variable`=present, then (as root; otherwise the test is
// skipped there) with `variable`=hidden in a mount namespace of its own where
// the library `soname` is an empty file. Each run must pass its one test.
void RerunWithLibraryAndWithout(const std::string& filter, const std::string& variable,
                                const std::string& soname);

}  // namespace quillon::test
