// SPDX-License-Identifier: MIT
// Fault sweeps: every allocation, lock and open that a successful export call makes, failing
// in turn. Each failure must give its own code, or Ok where the plug-in does without what
// failed; after each call the host contract must hold: nothing handed over on failure, nothing
// left behind.
#pragma once

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "framework/host_interface.h"
#include "framework/linked_host.h"
#include "framework/platform.h"
#include "tests/support/test_support.h"

namespace fault_sweep {

constexpr HGLOBAL kUntouched = 0x5A5A5A5A;

enum class Kind { Allocation, Lock, Open };

inline platform::FaultPlan failing(Kind kind, int n) {
  switch (kind) {
    case Kind::Allocation:
      return {.failAllocation = n};
    case Kind::Lock:
      return {.failLock = n};
    case Kind::Open:
      return {.failOpen = n};
  }
  return {};
}

inline LoaderResult codeOf(Kind kind) {
  switch (kind) {
    case Kind::Allocation:
      return LoaderResult::NoMemory;
    case Kind::Lock:
      return LoaderResult::LockFailed;
    case Kind::Open:
      return LoaderResult::OpenFailed;
  }
  return LoaderResult::Ok;
}

inline int countOf(Kind kind, const platform::OperationCounts& counts) {
  return kind == Kind::Allocation ? counts.allocations
         : kind == Kind::Lock     ? counts.locks
                                  : counts.opens;
}

// Where a picture comes from, as the host passes it.
struct Source {
  const char* text;
  std::int32_t length;
  std::uint32_t flags;
};

// One export call. Checks the host contract (host_contract.h) after it, taking over and freeing
// what it hands over, and answers the call's result. made receives the operations of the
// export alone; the fault plan ends with the export, before the checks lock anything.
using Call = std::function<LoaderResult(platform::OperationCounts& made)>;

// expectedPixels, when given, is what the pixel block must hold on Ok.
template <class Exports>
Call getPicture(Source s, Bytes expectedPixels = {}) {
  return [s, expectedPixels](platform::OperationCounts& made) {
    HGLOBAL info = kUntouched, pixels = kUntouched;
    const LoaderResult r =
        Exports::getPicture(s.text, s.length, s.flags, &info, &pixels, nullptr, 0);
    made = endPluginCall();
    const host_contract::HandedPicture handed =
        standInContract().afterPicture("GetPicture", r, info, pixels, kUntouched);
    if (r == LoaderResult::Ok && !expectedPixels.empty()) {
      EXPECT_TRUE(handed.pixels == expectedPixels);
    }
    return r;
  };
}

// GetPicture of the native link, with what a linked host passes besides (framework/
// linked_host.h), which must outlive the call.
template <class Exports>
Call linkedPicture(Source s, const LinkedCall& linked, Bytes expectedPixels = {}) {
  return [s, linked, expectedPixels](platform::OperationCounts& made) {
    HGLOBAL info = kUntouched, pixels = kUntouched;
    const LoaderResult r =
        Exports::linkedPicture(linked, s.text, s.length, s.flags, &info, &pixels, nullptr, 0);
    made = endPluginCall();
    const host_contract::HandedPicture handed =
        standInContract().afterPicture("GetPicture", r, info, pixels, kUntouched);
    if (r == LoaderResult::Ok && !expectedPixels.empty()) {
      EXPECT_TRUE(handed.pixels == expectedPixels);
    }
    return r;
  };
}

template <class Exports>
Call linkedPictureInfo(Source s, const LinkedCall& linked) {
  return [s, linked](platform::OperationCounts& made) {
    PictureInfoRecord record;
    std::memset(&record, 0x5A, sizeof record);
    const LoaderResult r = Exports::linkedPictureInfo(linked, s.text, s.length, s.flags, &record);
    made = endPluginCall();
    standInContract().afterPictureInfo(r, record.textHandle, kUntouched);
    return r;
  };
}

template <class Exports>
Call getPictureInfo(Source s, bool hasComment) {
  return [s, hasComment](platform::OperationCounts& made) {
    PictureInfoRecord record;
    std::memset(&record, 0x5A, sizeof record);
    const LoaderResult r = Exports::getPictureInfo(s.text, s.length, s.flags, &record);
    made = endPluginCall();
    const HGLOBAL text = record.textHandle;
    if (r == LoaderResult::Ok) {
      EXPECT_EQ(text != 0, hasComment);
    }
    standInContract().afterPictureInfo(r, text, kUntouched);
    return r;
  };
}

// Runs call once to count what it does, then once for each of those operations failing.
// absorbed lists the failures after which the call still succeeds. Returns how many operations
// the successful call made, so that a caller can check that there was something to fail.
inline platform::OperationCounts sweep(const std::string& what, const Call& call,
                                       std::set<std::pair<Kind, int>> absorbed) {
  SCOPED_TRACE(what);
  platform::setFaultPlan({});
  platform::OperationCounts counts;
  const LoaderResult first = call(counts);
  EXPECT_EQ(first, LoaderResult::Ok);
  if (first != LoaderResult::Ok) return counts;
  expectNothingHeld();
  for (Kind kind : {Kind::Allocation, Kind::Lock, Kind::Open}) {
    for (int n = 1; n <= countOf(kind, counts); ++n) {
      platform::setFaultPlan(failing(kind, n));
      platform::OperationCounts made;
      const LoaderResult r = call(made);
      const bool absorb = absorbed.erase({kind, n}) > 0;
      // A failure that is not absorbed is the last operation of its kind.
      if (absorb) {
        EXPECT_GE(countOf(kind, made), n);
      } else {
        EXPECT_EQ(countOf(kind, made), n);
      }
      EXPECT_EQ(r, absorb ? LoaderResult::Ok : codeOf(kind))
          << resultName(codeOf(kind)) << " at operation " << n;
      expectNothingHeld();
    }
  }
  EXPECT_TRUE(absorbed.empty()) << "a failure expected to be absorbed was never made";
  return counts;
}

}  // namespace fault_sweep
