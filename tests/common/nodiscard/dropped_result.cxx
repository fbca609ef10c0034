// Must not compile: a Result that nobody looks at. The test suite builds this
// and expects the compiler to refuse the dropped value.
#include "common/result.h"

namespace tarnwick {

Result<int> parse_count();
void drop_the_failure();

void drop_the_failure() { parse_count(); }

}  // namespace tarnwick
