// SPDX-License-Identifier: MIT
// The codec DLL's exports: the class factory of each decoder class, whether the DLL may be
// unloaded, and its registration per machine (DllRegisterServer, DllUnregisterServer) or for the
// current user (DllInstall with "user", as `regsvr32 /n /i:user` calls it).
#include <wincodec.h>

#include <new>
#include <string>

#include "wic/codec_classes.h"
#include "wic/decoder.h"
#include "wic/module.h"
#include "wic/registration.h"

namespace wic {

namespace {

LONG liveObjects = 0;
LONG serverLocks = 0;
HMODULE self = nullptr;

class ClassFactory final : public IClassFactory, RefCounted<ClassFactory> {
 public:
  explicit ClassFactory(host::PictureFormat format) : format_(format) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return createDecoder(format_, riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      InterlockedIncrement(&serverLocks);
    } else {
      InterlockedDecrement(&serverLocks);
    }
    return S_OK;
  }

 private:
  host::PictureFormat format_;
};

// The DLL's own full path.
std::wstring selfPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

void objectCreated() {
  InterlockedIncrement(&liveObjects);
}
void objectDestroyed() {
  InterlockedDecrement(&liveObjects);
}
HMODULE moduleHandle() {
  return self;
}

}  // namespace wic

#define CODEC_EXPORT extern "C" __declspec(dllexport)

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wic::self = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

CODEC_EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const wic::CodecClass* codec = wic::codecClassOf(clsid);
  if (!codec) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) wic::ClassFactory(codec->format);
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, object);
  factory->Release();
  return hr;
}

CODEC_EXPORT HRESULT WINAPI DllCanUnloadNow() {
  return wic::liveObjects == 0 && wic::serverLocks == 0 ? S_OK : S_FALSE;
}

CODEC_EXPORT HRESULT WINAPI DllRegisterServer() {
  const std::wstring path = wic::selfPath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  return wic::registerCodec(wic::Scope::Machine, path);
}

CODEC_EXPORT HRESULT WINAPI DllUnregisterServer() {
  return wic::unregisterCodec(wic::Scope::Machine, wic::selfPath());
}

// "user" registers for the current user alone; anything else (or nothing) per machine.
CODEC_EXPORT HRESULT WINAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  const wic::Scope scope =
      commandLine && lstrcmpiW(commandLine, L"user") == 0 ? wic::Scope::User : wic::Scope::Machine;
  const std::wstring path = wic::selfPath();
  if (!install) return wic::unregisterCodec(scope, path);
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  return wic::registerCodec(scope, path);
}
