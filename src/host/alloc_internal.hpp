// Shared by the parts of travo's host layer that take storage: one counter
// of allocation attempts, so that an injected failure can hit any of them.
#pragma once

namespace travo::host::detail {

// Counts one host allocation attempt; false when this attempt is the one
// chosen to fail by fail_allocation.
bool allocation_attempt();

}  // namespace travo::host::detail
