// Lowers the calling thread's scheduling priority one step below normal, as
// the tool's worker and wait indicator run.
#pragma once

namespace quillon {

// Best effort: a failure leaves the priority as it was.
void LowerThisThreadPriority();

}  // namespace quillon
