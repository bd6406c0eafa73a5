// SPDX-License-Identifier: MIT
// A WIC client of planewic.dll, as a Windows program reads pictures through the system's imaging
// component: it registers the codec, decodes every picture of the pinned set by file name (GRA
// companions beside it) and from memory (none), holds the indexed pixels, their palette and
// the 32-bit BGRA conversion to the pinned outputs, feeds malformed files, counts COM objects
// and heap blocks, draws the thumbnail the shell's provider would, and checks the registry
// against the registration table before, during and after.
//
//   wic_client DLL FOLDER            FOLDER: where the pictures are written
//   wic_client --installed FOLDER    after the setup program: the registry as the table has it
//                                    for the DLL registered, and the samples decoded through it
//   wic_client --uninstalled         after the uninstaller: nothing of the table left
#include <wincodec.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "framework/picture_geometry.h"
#include "tests/support/pictures.h"
#include "tests/support/pinned.h"
#include "wic/codec_classes.h"
#include "wic/registration.h"

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

std::string hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::wstring wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// A WIC error: a failure of the imaging component's facility, or one of the generic COM
// failures a decoder answers (out of memory, bad argument).
bool isWicError(HRESULT hr) {
  return FAILED(hr) && (HRESULT_FACILITY(hr) == 0x898 || hr == E_OUTOFMEMORY || hr == E_INVALIDARG);
}

template <class T>
struct Com {
  T* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p) p->Release();
  }
  T** out() { return &p; }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// ---- the registry against the table

struct FoundValue {
  DWORD type;
  std::vector<std::uint8_t> data;
};

std::optional<FoundValue> readValue(HKEY hive, const std::wstring& key, const std::wstring& name) {
  HKEY k;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, size = 0;
  const wchar_t* n = name.empty() ? nullptr : name.c_str();
  std::optional<FoundValue> found;
  if (RegQueryValueExW(k, n, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    FoundValue v{type, std::vector<std::uint8_t>(size)};
    if (RegQueryValueExW(k, n, nullptr, &type, v.data.data(), &size) == ERROR_SUCCESS) {
      v.data.resize(size);
      found = v;
    }
  }
  RegCloseKey(k);
  return found;
}

bool keyExists(HKEY hive, const std::wstring& key) {
  HKEY k;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

FoundValue expected(const wic::RegistryValue& v) {
  using Kind = wic::RegistryValue::Kind;
  if (v.kind == Kind::Text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(v.text.c_str());
    return {REG_SZ, {bytes, bytes + (v.text.size() + 1) * sizeof(wchar_t)}};
  }
  if (v.kind == Kind::Number) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&v.number);
    return {REG_DWORD, {bytes, bytes + sizeof v.number}};
  }
  return {REG_BINARY, v.bytes};
}

// Every value below key (its subkeys' too), by "key|name"; subkeys without values by "key|*".
void collect(HKEY hive, const std::wstring& key, std::map<std::wstring, FoundValue>& into) {
  HKEY k;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
  wchar_t name[256];
  bool any = false;
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumValueW(k, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    any = true;
    if (std::optional<FoundValue> v = readValue(hive, key, name)) into[key + L"|" + name] = *v;
  }
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(k, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    subkeys.push_back(name);
  }
  RegCloseKey(k);
  if (!any && subkeys.empty()) into[key + L"|*"] = {REG_NONE, {}};
  for (const std::wstring& sub : subkeys) collect(hive, key + L"\\" + sub, into);
}

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// After registration: every value of the table as the table has it, and below each owned key
// nothing else.
void checkRegistered(wic::Scope scope, const std::wstring& dll, const std::string& when) {
  const HKEY hive = wic::hiveOf(scope);
  const std::vector<wic::RegistryValue> table = wic::registryValues(dll);
  std::map<std::wstring, FoundValue> want, got;
  for (const wic::RegistryValue& v : table) {
    const std::wstring key = wic::fullKey(v.root, v.key);
    if (v.kind == wic::RegistryValue::Kind::KeyOnly) {
      want[key + L"|*"] = {REG_NONE, {}};
    } else {
      want[key + L"|" + v.name] = expected(v);
    }
    if (v.owned.empty()) {
      if (std::optional<FoundValue> found = readValue(hive, key, v.name))
        got[key + L"|" + v.name] = *found;
    } else {
      collect(hive, wic::fullKey(v.root, v.owned), got);
    }
  }
  int wrong = 0;
  for (const auto& [id, value] : want) {
    auto it = got.find(id);
    if (it == got.end() || it->second.type != value.type || it->second.data != value.data) {
      if (wrong++ < 5) std::printf("  %s: missing or other than the table\n", narrow(id).c_str());
    }
  }
  for (const auto& [id, value] : got) {
    if (!want.count(id) && wrong++ < 10)
      std::printf("  %s: not in the table\n", narrow(id).c_str());
  }
  check(wrong == 0, when + ": the registry holds exactly the table's " +
                        std::to_string(want.size()) + " values (" + std::to_string(wrong) +
                        " differ)");
}

// After unregistration: no value of the table, no key the codec owns.
void checkUnregistered(wic::Scope scope, const std::string& when) {
  const HKEY hive = wic::hiveOf(scope);
  int left = 0;
  for (const wic::RegistryValue& v : wic::registryValues(L"")) {
    const std::wstring key = wic::fullKey(v.root, v.key);
    if (!v.owned.empty() && keyExists(hive, wic::fullKey(v.root, v.owned))) {
      if (left++ < 5) std::printf("  %s: still there\n", narrow(v.owned).c_str());
    } else if (v.kind != wic::RegistryValue::Kind::KeyOnly && readValue(hive, key, v.name)) {
      if (left++ < 5)
        std::printf("  %s|%s: still there\n", narrow(key).c_str(), narrow(v.name).c_str());
    }
  }
  check(left == 0, when + ": nothing of the table left (" + std::to_string(left) + " left)");
}

// ---- decoding

struct Decoded {
  HRESULT hr = E_FAIL;
  Bytes indices;      // one a pixel, top row first
  Bytes paletteRgb;   // 16 x red, green, blue
  Bytes bgra;         // WICConvertBitmapSource to 32bpp BGRA
  std::string shape;  // what differs from a 640 x 400 4-bit frame at 96 dpi; empty when nothing
};

IWICImagingFactory* factory = nullptr;

Decoded decodeWith(IWICBitmapDecoder* decoder) {
  Decoded d;
  UINT frames = 0;
  decoder->GetFrameCount(&frames);
  if (frames != 1) d.shape += " frames " + std::to_string(frames);
  GUID container{};
  decoder->GetContainerFormat(&container);
  Com<IWICBitmapFrameDecode> frame;
  if (FAILED(d.hr = decoder->GetFrame(0, frame.out()))) return d;
  UINT width = 0, height = 0;
  frame->GetSize(&width, &height);
  if (width != kPictureWidth || height != kPictureHeight)
    d.shape += " size " + std::to_string(width) + "x" + std::to_string(height);
  GUID format{};
  frame->GetPixelFormat(&format);
  if (!IsEqualGUID(format, GUID_WICPixelFormat4bppIndexed)) d.shape += " pixel format";
  double dpiX = 0, dpiY = 0;
  frame->GetResolution(&dpiX, &dpiY);
  if (dpiX != 96.0 || dpiY != 96.0) d.shape += " resolution";
  Com<IWICBitmapSource> thumbnail;
  if (frame->GetThumbnail(thumbnail.out()) != WINCODEC_ERR_CODECNOTHUMBNAIL)
    d.shape += " thumbnail";

  Com<IWICPalette> palette;
  factory->CreatePalette(palette.out());
  if (FAILED(d.hr = frame->CopyPalette(palette.p))) return d;
  WICColor colors[kPaletteEntries] = {};
  UINT count = 0;
  palette->GetColors(kPaletteEntries, colors, &count);
  if (count != kPaletteEntries) d.shape += " palette of " + std::to_string(count);
  for (WICColor c : colors) {
    d.paletteRgb.push_back(static_cast<std::uint8_t>(c >> 16));
    d.paletteRgb.push_back(static_cast<std::uint8_t>(c >> 8));
    d.paletteRgb.push_back(static_cast<std::uint8_t>(c));
  }
  const UINT stride = kPictureWidth / 2;
  Bytes packed(static_cast<std::size_t>(stride) * kPictureHeight);
  if (FAILED(d.hr = frame->CopyPixels(nullptr, stride, static_cast<UINT>(packed.size()),
                                      packed.data())))
    return d;
  for (std::uint8_t b : packed) {
    d.indices.push_back(b >> 4);
    d.indices.push_back(b & 15);
  }
  Com<IWICBitmapSource> bgra;
  if (FAILED(d.hr = WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.p, bgra.out())))
    return d;
  d.bgra.resize(static_cast<std::size_t>(kPictureWidth) * kPictureHeight * 4);
  d.hr =
      bgra->CopyPixels(nullptr, kPictureWidth * 4, static_cast<UINT>(d.bgra.size()), d.bgra.data());
  return d;
}

Decoded fromFile(const std::wstring& path) {
  Com<IWICBitmapDecoder> decoder;
  Decoded d;
  d.hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                            WICDecodeMetadataCacheOnDemand, decoder.out());
  return SUCCEEDED(d.hr) ? decodeWith(decoder.p) : d;
}

// Through a memory stream, which tells no file name.
Decoded fromMemory(const Bytes& bytes) {
  Com<IWICStream> stream;
  Decoded d;
  if (FAILED(d.hr = factory->CreateStream(stream.out()))) return d;
  static const BYTE kNothing = 0;
  BYTE* data = bytes.empty() ? const_cast<BYTE*>(&kNothing) : const_cast<BYTE*>(bytes.data());
  if (FAILED(d.hr = stream->InitializeFromMemory(data, static_cast<DWORD>(bytes.size())))) return d;
  Com<IWICBitmapDecoder> decoder;
  d.hr = factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand,
                                          decoder.out());
  return SUCCEEDED(d.hr) ? decodeWith(decoder.p) : d;
}

// Straight to the codec's own decoder of format, past the component's pattern match, so that
// the decoder's own checks meet every byte. Also counts the stream's references before and
// after.
HRESULT initializeDirectly(host::PictureFormat format, const Bytes& bytes, bool& referencesKept) {
  Com<IWICStream> stream;
  factory->CreateStream(stream.out());
  static const BYTE kNothing = 0;
  BYTE* data = bytes.empty() ? const_cast<BYTE*>(&kNothing) : const_cast<BYTE*>(bytes.data());
  stream->InitializeFromMemory(data, static_cast<DWORD>(bytes.size()));
  stream->AddRef();
  const ULONG before = stream->Release();
  HRESULT hr;
  {
    Com<IWICBitmapDecoder> decoder;
    hr = CoCreateInstance(wic::codecClassOf(format).decoder, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IWICBitmapDecoder, reinterpret_cast<void**>(decoder.out()));
    if (SUCCEEDED(hr)) hr = decoder->Initialize(stream.p, WICDecodeMetadataCacheOnDemand);
    if (SUCCEEDED(hr)) {
      Com<IWICBitmapFrameDecode> frame;
      hr = decoder->GetFrame(0, frame.out());
    }
  }
  stream->AddRef();
  referencesKept = stream->Release() == before;
  return hr;
}

pinned::Entry entryOf(const std::string& name, const Decoded& d) {
  pinned::Entry e = pinned::decoded(name, d.indices, d.paletteRgb, "");
  e.comment.clear();  // WIC gives no comment: not compared
  return e;
}

// BGRA as red, green, blue.
Bytes rgbOf(const Bytes& bgra) {
  Bytes rgb;
  rgb.reserve(bgra.size() / 4 * 3);
  for (std::size_t i = 0; i + 3 < bgra.size(); i += 4) {
    rgb.push_back(bgra[i + 2]);
    rgb.push_back(bgra[i + 1]);
    rgb.push_back(bgra[i]);
  }
  return rgb;
}

void checkAgainstPinned(const pinned::File& file, const std::string& name, const Decoded& d,
                        const std::string& how) {
  const std::string what = name + " " + how;
  check(d.shape.empty(), what + ": a 640 x 400 4-bit frame at 96 dpi (" + d.shape + ")");
  const std::string indexed = pinned::compare(file, entryOf(name, d));
  check(indexed.empty(), what + ": indices and palette as pinned (" + indexed + ")");
  pinned::Entry colours;
  colours.name = name;
  colours.result = "Ok";
  colours.rgb = pinned::sha256(rgbOf(d.bgra));
  const std::string converted = pinned::compare(file, colours);
  check(converted.empty(), what + ": 32bpp BGRA as pinned (" + converted + ")");
}

// ---- heap blocks

std::size_t busyHeapBlocks() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  std::size_t busy = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
    }
    HeapUnlock(heaps[i]);
  }
  return busy;
}

}  // namespace

// The codec as the setup program left it: registered per machine for the DLL it installed, and
// the samples decoding through it by name (card.gra with its companions) as pinned.
int checkInstalled(const std::string& folder) {
  const std::wstring server = L"SOFTWARE\\Classes\\CLSID\\" +
                              wic::guidText(wic::kCodecClasses[0].decoder) + L"\\InprocServer32";
  const std::optional<FoundValue> dll = readValue(HKEY_LOCAL_MACHINE, server, L"");
  check(dll && dll->type == REG_SZ, "the codec is registered");
  if (!dll) return 1;
  const std::wstring dllPath(reinterpret_cast<const wchar_t*>(dll->data.data()));
  std::printf("registered: %s\n", narrow(dllPath).c_str());
  checkRegistered(wic::Scope::Machine, dllPath, "after the setup program");
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   reinterpret_cast<void**>(&factory));
  const pinned::File file = pinned::read(PINNED_FILE);
  std::vector<pictures::PictureFiles> samples = pictures::samples();
  pictures::writeAll(folder, samples);
  for (const pictures::PictureFiles& p : samples) {
    std::string path = folder + "\\" + p.name;
    std::replace(path.begin(), path.end(), '/', '\\');
    const Decoded d = fromFile(wide(path));
    check(SUCCEEDED(d.hr), p.name + " decodes (" + hex(d.hr) + ")");
    if (SUCCEEDED(d.hr)) checkAgainstPinned(file, p.name, d, "through the installed codec");
  }
  if (factory) factory->Release();
  CoUninitialize();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--uninstalled") {
    checkUnregistered(wic::Scope::Machine, "after the uninstaller");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
  }
  if (argc == 3 && std::string(argv[1]) == "--installed") return checkInstalled(argv[2]);
  if (argc != 3) {
    std::fprintf(stderr, "usage: wic_client DLL FOLDER | --installed FOLDER | --uninstalled\n");
    return 2;
  }
  const std::string folder = argv[2];
  HMODULE dll = LoadLibraryA(argv[1]);
  if (!dll) {
    std::printf("%s: cannot load the codec (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  wchar_t dllPath[MAX_PATH];
  GetModuleFileNameW(dll, dllPath, MAX_PATH);
  using Call = HRESULT(WINAPI*)();
  using Install = HRESULT(WINAPI*)(BOOL, LPCWSTR);
  const auto registerServer =
      reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
  const auto unregisterServer =
      reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(dll, "DllUnregisterServer")));
  const auto canUnloadNow =
      reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
  const auto install =
      reinterpret_cast<Install>(reinterpret_cast<void*>(GetProcAddress(dll, "DllInstall")));
  if (!registerServer || !unregisterServer || !canUnloadNow || !install) {
    std::printf("%s: exports missing\n", argv[1]);
    return 1;
  }

  // Registration per user and per machine, from nothing.
  unregisterServer();
  install(FALSE, L"user");
  checkUnregistered(wic::Scope::Machine, "before registering");
  // Another program's values for the extension, from before: kept while the codec is there and
  // put back when it goes, unless overwritten again meanwhile.
  const std::wstring extension =
      L"SOFTWARE\\Classes\\." +
      wide(std::string(host::descriptionOf(host::PictureFormat::Gra).extensions.front()));
  const auto setText = [&](const wchar_t* name, const std::wstring& value) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, extension.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
      RegCloseKey(key);
    }
  };
  const auto textOf = [&](const wchar_t* name) {
    const std::optional<FoundValue> found = readValue(HKEY_CURRENT_USER, extension, name);
    return found && found->type == REG_SZ
               ? std::wstring(reinterpret_cast<const wchar_t*>(found->data.data()))
               : std::wstring(L"(none)");
  };
  setText(L"Content Type", L"image/x-earlier");
  setText(L"PerceivedType", L"text");
  check(install(TRUE, L"user") == S_OK, "DllInstall user");
  checkRegistered(wic::Scope::User, dllPath, "per user, over another program's values");
  check(install(TRUE, L"user") == S_OK && textOf(L"PerceivedType") == L"image",
        "DllInstall user a second time");
  // A shared value that another program has written over since stays when the codec goes.
  const std::wstring other = L"image/x-other";
  setText(L"Content Type", other);
  check(install(FALSE, L"user") == S_OK, "DllInstall user, uninstall");
  check(textOf(L"Content Type") == other,
        "another program's content type written since stays after the uninstall");
  check(textOf(L"PerceivedType") == L"text",
        "the perceived type from before the codec is back after the uninstall");
  HKEY own;
  const bool kept = RegOpenKeyExW(HKEY_CURRENT_USER, wic::kOwnKey, 0, KEY_READ | wic::kReplacedView,
                                  &own) == ERROR_SUCCESS;
  if (kept) RegCloseKey(own);
  check(!kept, "nothing kept of the replaced values after the uninstall");
  RegDeleteKeyValueW(HKEY_CURRENT_USER, extension.c_str(), L"Content Type");
  RegDeleteKeyValueW(HKEY_CURRENT_USER, extension.c_str(), L"PerceivedType");
  RegDeleteKeyW(HKEY_CURRENT_USER, extension.c_str());
  checkUnregistered(wic::Scope::User, "per user, after uninstall");
  check(registerServer() == S_OK, "DllRegisterServer");
  checkRegistered(wic::Scope::Machine, dllPath, "per machine");

  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))) {
    std::printf("no imaging factory\n");
    return 1;
  }

  const pinned::File file = pinned::read(PINNED_FILE);
  if (!file.error.empty()) {
    std::printf("%s\n", file.error.c_str());
    return 1;
  }
  const std::vector<pictures::PictureFiles> set = pictures::pinnedSet();
  if (std::string error = pictures::writeAll(folder, set); !error.empty()) {
    std::printf("%s\n", error.c_str());
    return 1;
  }

  // Every picture of the set, by name and from memory.
  int decodedByName = 0, decodedInMemory = 0, refused = 0;
  for (const pictures::PictureFiles& p : set) {
    const pinned::Entry* want = file.find(p.name);
    if (!want) {
      check(false, p.name + ": not pinned");
      continue;
    }
    std::string path = folder + "\\" + p.name;
    for (char& c : path)
      if (c == '/') c = '\\';
    const Decoded byName = fromFile(wide(path));
    const Decoded inMemory = fromMemory(p.picture);
    if (!want->decoded()) {
      check(isWicError(byName.hr), p.name + " by name: a WIC error (" + hex(byName.hr) + ")");
      check(isWicError(inMemory.hr),
            p.name + " from memory: a WIC error (" + hex(inMemory.hr) + ")");
      ++refused;
      continue;
    }
    check(SUCCEEDED(byName.hr), p.name + " by name decodes (" + hex(byName.hr) + ")");
    check(SUCCEEDED(inMemory.hr), p.name + " from memory decodes (" + hex(inMemory.hr) + ")");
    if (FAILED(byName.hr) || FAILED(inMemory.hr)) continue;
    checkAgainstPinned(file, p.name, byName, "by name");
    ++decodedByName;
    if (!p.palette && !p.fourthPlane) {
      checkAgainstPinned(file, p.name, inMemory, "from memory");
      ++decodedInMemory;
      continue;
    }
    // Without its companions: the format's own colours, and no plane 3.
    bool same = inMemory.shape.empty() && inMemory.indices.size() == byName.indices.size();
    for (std::size_t i = 0; same && i < inMemory.indices.size(); ++i) {
      same = inMemory.indices[i] == (byName.indices[i] & (p.fourthPlane ? 7 : 15));
    }
    check(same, p.name + " from memory: the by-name indices without plane 3");
    Bytes defaults;
    for (const RgbQuad& c : DefaultPalette) {
      defaults.insert(defaults.end(), {c.red, c.green, c.blue});
    }
    check(inMemory.paletteRgb == (p.palette ? defaults : byName.paletteRgb),
          p.name + " from memory: the default colours");
    ++decodedInMemory;
  }
  std::printf("decoded %d pictures by name and %d from memory as pinned; %d refused as pinned\n",
              decodedByName, decodedInMemory, refused);

  // Malformed files straight to the decoder: truncated at every 997th byte, random bytes, empty,
  // lying sizes (the set's), each a WIC error with the stream's references as they were.
  const pictures::PictureFiles* card = nullptr;
  const pictures::PictureFiles* gradient = nullptr;
  for (const pictures::PictureFiles& p : set) {
    if (p.name == "samples/card.gra") card = &p;
    if (p.name == "samples/gradient.q") gradient = &p;
  }
  struct Bad {
    host::PictureFormat format;
    Bytes bytes;
  };
  std::vector<Bad> bad;
  for (const auto* p : {card, gradient}) {
    if (!p) continue;
    const auto format = p == card ? host::PictureFormat::Gra : host::PictureFormat::Q;
    for (std::size_t n = 0; n < p->picture.size(); n += 997)
      bad.push_back({format, Bytes(p->picture.begin(), p->picture.begin() + n)});
    Bytes noise(p->picture.size());
    std::srand(7);
    for (std::uint8_t& b : noise) b = static_cast<std::uint8_t>(std::rand());
    bad.push_back({format, noise});
  }
  for (const pictures::PictureFiles& p : set) {
    const pinned::Entry* want = file.find(p.name);
    if (want && !want->decoded())
      bad.push_back({p.isGra() ? host::PictureFormat::Gra : host::PictureFormat::Q, p.picture});
  }
  const auto feedBad = [&](bool report) {
    int errors = 0, kept = 0;
    for (const Bad& b : bad) {
      bool referencesKept = false;
      const HRESULT hr = initializeDirectly(b.format, b.bytes, referencesKept);
      errors += isWicError(hr);
      kept += referencesKept;
      if (report && !isWicError(hr))
        std::printf("  %zu bytes: %s\n", b.bytes.size(), hex(hr).c_str());
    }
    if (report) {
      check(errors == static_cast<int>(bad.size()), std::to_string(errors) + " of " +
                                                        std::to_string(bad.size()) +
                                                        " malformed files a WIC error");
      check(kept == static_cast<int>(bad.size()), std::to_string(kept) + " of " +
                                                      std::to_string(bad.size()) +
                                                      " streams with their references as before");
    }
  };
  feedBad(true);
  std::printf("fed %zu malformed files straight to the decoders\n", bad.size());

  // QueryCapability by each format's own checks, the stream left where it was; the container
  // format each decoder reports.
  for (const auto* p : {card, gradient}) {
    if (!p) continue;
    for (const wic::CodecClass& codec : wic::kCodecClasses) {
      const bool own = (codec.format == host::PictureFormat::Gra) == (p == card);
      Com<IWICStream> stream;
      factory->CreateStream(stream.out());
      stream->InitializeFromMemory(const_cast<BYTE*>(p->picture.data()),
                                   static_cast<DWORD>(p->picture.size()));
      LARGE_INTEGER at{};
      at.QuadPart = 77;
      stream->Seek(at, STREAM_SEEK_SET, nullptr);
      Com<IWICBitmapDecoder> decoder;
      CoCreateInstance(codec.decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                       reinterpret_cast<void**>(decoder.out()));
      DWORD capability = 0xFFFF;
      const HRESULT hr = decoder ? decoder->QueryCapability(stream.p, &capability) : E_FAIL;
      ULARGE_INTEGER now{};
      LARGE_INTEGER none{};
      stream->Seek(none, STREAM_SEEK_CUR, &now);
      const DWORD want = own ? WICBitmapDecoderCapabilityCanDecodeAllImages |
                                   WICBitmapDecoderCapabilityCanDecodeSomeImages
                             : 0;
      check(hr == S_OK && capability == want && now.QuadPart == 77,
            p->name + ": QueryCapability of the " + (own ? "own" : "other") +
                " format's decoder answers " + std::to_string(capability) + ", stream at " +
                std::to_string(now.QuadPart));
      GUID container{};
      if (decoder) decoder->GetContainerFormat(&container);
      check(IsEqualGUID(container, codec.container), "the decoder's container format");
    }
  }

  // Nothing kept: every object of the codec gone, and the heap holding as many blocks after
  // more rounds of decoding and refusing as before them.
  const std::wstring cardPath = wide(folder + "\\samples\\card.gra");
  fromFile(cardPath);
  fromMemory(gradient ? gradient->picture : Bytes());
  check(canUnloadNow() == S_OK, "no codec object left after the decodes (DllCanUnloadNow)");
  const std::size_t blocksBefore = busyHeapBlocks();
  for (int round = 0; round < 3; ++round) {
    fromFile(cardPath);
    fromMemory(gradient ? gradient->picture : Bytes());
    feedBad(false);
  }
  const std::size_t blocksAfter = busyHeapBlocks();
  check(blocksAfter == blocksBefore, "heap blocks " + std::to_string(blocksBefore) +
                                         " before three more rounds, " +
                                         std::to_string(blocksAfter) + " after");
  std::printf("heap blocks: %zu before three rounds of decodes, %zu after\n", blocksBefore,
              blocksAfter);

  // CopyPixels: a rectangle at an odd column, a stride wider than a row, buffers too short.
  {
    Com<IWICBitmapDecoder> decoder;
    factory->CreateDecoderFromFilename(cardPath.c_str(), nullptr, GENERIC_READ,
                                       WICDecodeMetadataCacheOnDemand, decoder.out());
    Com<IWICBitmapFrameDecode> frame;
    if (decoder) decoder->GetFrame(0, frame.out());
    check(static_cast<bool>(frame), "card.gra frame for CopyPixels");
    if (frame) {
      const Decoded whole = decodeWith(decoder.p);
      const WICRect rect{101, 37, 333, 29};
      const UINT stride = 200;
      Bytes buffer(stride * 29, 0xAA);
      check(
          frame->CopyPixels(&rect, stride, static_cast<UINT>(buffer.size()), buffer.data()) == S_OK,
          "CopyPixels of a rectangle at an odd column");
      bool same = true;
      for (int y = 0; y < rect.Height; ++y) {
        for (int x = 0; x < rect.Width; ++x) {
          const std::uint8_t b = buffer[y * stride + x / 2];
          const std::uint8_t got = x % 2 ? b & 15 : b >> 4;
          same = same && got == whole.indices[(rect.Y + y) * kPictureWidth + rect.X + x];
        }
        same = same && buffer[y * stride + 167] == 0xAA;  // past the row: untouched
      }
      check(same, "the rectangle's pixels, and nothing past its rows");
      const UINT needed = stride * 28 + 167;
      check(frame->CopyPixels(&rect, stride, needed, buffer.data()) == S_OK,
            "a buffer that ends with the last row");
      check(frame->CopyPixels(&rect, stride, needed - 1, buffer.data()) ==
                WINCODEC_ERR_INSUFFICIENTBUFFER,
            "a buffer a byte short: WINCODEC_ERR_INSUFFICIENTBUFFER");
      check(frame->CopyPixels(&rect, 166, static_cast<UINT>(buffer.size()), buffer.data()) ==
                E_INVALIDARG,
            "a stride shorter than a row: E_INVALIDARG");
      const WICRect outside{600, 0, 41, 1};
      check(frame->CopyPixels(&outside, stride, static_cast<UINT>(buffer.size()), buffer.data()) ==
                E_INVALIDARG,
            "a rectangle past the right edge: E_INVALIDARG");
      Com<IWICBitmapDecoderInfo> info;
      check(SUCCEEDED(decoder->GetDecoderInfo(info.out())), "GetDecoderInfo");
      if (info) {
        wchar_t mime[64] = {};
        UINT length = 0;
        info->GetMimeTypes(64, mime, &length);
        check(narrow(mime) == "image/x-gra", "the decoder info's MIME type: " + narrow(mime));
      }
    }
  }

  // The thumbnail route of the shell's provider: decoder, first frame, converted to 32bpp BGRA,
  // scaled to 256 across. Each pixel of the thumbnail is one of the pixels of the picture
  // that fall into its place (or next to it).
  if (card) {
    const Decoded whole = fromFile(cardPath);
    Com<IWICBitmapDecoder> decoder;
    factory->CreateDecoderFromFilename(cardPath.c_str(), nullptr, GENERIC_READ,
                                       WICDecodeMetadataCacheOnDemand, decoder.out());
    Com<IWICBitmapFrameDecode> frame;
    if (decoder) decoder->GetFrame(0, frame.out());
    Com<IWICBitmapSource> bgra;
    if (frame) WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.p, bgra.out());
    Com<IWICBitmapScaler> scaler;
    factory->CreateBitmapScaler(scaler.out());
    constexpr int w = 256, h = kPictureHeight * w / kPictureWidth;
    Bytes thumb(w * h * 4);
    HRESULT hr =
        bgra ? scaler->Initialize(bgra.p, w, h, WICBitmapInterpolationModeNearestNeighbor) : E_FAIL;
    if (SUCCEEDED(hr))
      hr = scaler->CopyPixels(nullptr, w * 4, static_cast<UINT>(thumb.size()), thumb.data());
    check(SUCCEEDED(hr), "card.gra scaled to 256 x 160 (" + hex(hr) + ")");
    int strays = 0;
    for (int y = 0; SUCCEEDED(hr) && y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* got = &thumb[(y * w + x) * 4];
        bool found = false;
        const int x0 = std::max(0, x * kPictureWidth / w - 1);
        const int x1 = std::min(kPictureWidth, (x + 1) * kPictureWidth / w + 1);
        const int y0 = std::max(0, y * kPictureHeight / h - 1);
        const int y1 = std::min(kPictureHeight, (y + 1) * kPictureHeight / h + 1);
        for (int sy = y0; !found && sy < y1; ++sy) {
          for (int sx = x0; !found && sx < x1; ++sx) {
            found = std::equal(got, got + 4, &whole.bgra[(sy * kPictureWidth + sx) * 4]);
          }
        }
        strays += !found;
      }
    }
    check(strays == 0, "thumbnail pixels from their place in the picture (" +
                           std::to_string(strays) + " from elsewhere)");
  }

  factory->Release();
  CoUninitialize();
  check(unregisterServer() == S_OK, "DllUnregisterServer");
  checkUnregistered(wic::Scope::Machine, "after DllUnregisterServer");

  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
