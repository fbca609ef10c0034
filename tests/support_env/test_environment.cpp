// Gives every test program the paths of the program under test and of the
// source tree, unless the environment already names them.
#include <cstdlib>

namespace {

const bool environment_ready = [] {
  ::setenv("TARNWICK_BINARY", TARNWICK_TEST_BINARY, 0);
  ::setenv("TARNWICK_SOURCE_DIR", TARNWICK_TEST_SOURCE_DIR, 0);
  return true;
}();

}  // namespace
