// SPDX-License-Identifier: MIT
// The native build's view of blocks and resources for the host contract (host_contract.h): the
// platform stand-in counts what is allocated, locked and open, and its global blocks are taken
// over with GlobalSize, GlobalLock, GlobalUnlock and GlobalFree, as a host does.
#pragma once

#include <cstdint>
#include <optional>

#include "framework/platform.h"
#include "tests/support/host_contract.h"

struct StandInBlocks {
  using Handle = HGLOBAL;

  std::optional<host_contract::Holdings> holdings() const {
    const platform::Usage u = platform::usage();
    return host_contract::Holdings{u.liveGlobalBlocks, u.lockedGlobalBlocks, u.liveHeapBlocks,
                                   u.openFiles};
  }

  // The stand-in has no lock count to ask for: a block that stays locked after the host's own
  // lock and unlock was locked before.
  host_contract::TakenBlock take(Handle handle) const {
    host_contract::TakenBlock taken;
    taken.size = GlobalSize(handle);
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(handle));
    taken.read = data != nullptr;
    if (data) taken.bytes.assign(data, data + taken.size);
    taken.locked = GlobalUnlock(handle) != FALSE;
    taken.freed = GlobalFree(handle) == 0;  // a failed GlobalFree answers the handle back
    taken.isBlock = handle != 0 && taken.freed;
    return taken;
  }
};

// Ends a plug-in call under a fault plan: answers the allocations, locks and opens the call
// made, and clears the plan, so that the host's own calls (taking the blocks over) neither meet
// it nor count in it.
inline platform::OperationCounts endPluginCall() {
  const platform::OperationCounts made = platform::operationCounts();
  platform::setFaultPlan({});
  return made;
}
