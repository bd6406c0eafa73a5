// SPDX-License-Identifier: MIT
// The codec DLL's own state: how many of its objects live and how many locks its class
// factories hold (DllCanUnloadNow), and its module handle.
#pragma once

#include <windows.h>

namespace wic {

void objectCreated();
void objectDestroyed();
HMODULE moduleHandle();

// The reference count and IUnknown of the codec's COM objects: Self implements the interfaces
// it lists in its own QueryInterface. Each live object keeps the DLL loaded.
template <class Self>
class RefCounted {
 public:
  RefCounted() { objectCreated(); }
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

 protected:
  virtual ~RefCounted() { objectDestroyed(); }
  ULONG addRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  LONG references_ = 1;
};

}  // namespace wic
