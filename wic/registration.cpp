// SPDX-License-Identifier: MIT
#include "wic/registration.h"

#include <shlobj.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "planes_version.h"
#include "wic/codec_classes.h"

namespace wic {

namespace {

// The system's thumbnail handler interface, and its provider that draws thumbnails of any
// picture its imaging component decodes.
constexpr wchar_t kThumbnailHandler[] = L"{e357fccd-a995-4576-b01f-234630154e96}";
constexpr wchar_t kImagingThumbnailProvider[] = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";
// The photo viewer's program id for pictures it opens through the imaging component.
constexpr wchar_t kPhotoViewerProgId[] = L"PhotoViewer.FileAssoc.Tiff";
constexpr wchar_t kVendorName[] = L"the planeplugins authors";

std::wstring widen(std::string_view text) {
  return std::wstring(text.begin(), text.end());  // the descriptions' texts are ASCII
}

RegistryValue text(Root root, std::wstring key, std::wstring name, std::wstring value,
                   std::wstring owned) {
  return {root, std::move(key),  std::move(name), RegistryValue::Kind::Text, std::move(value), 0,
          {},   std::move(owned)};
}
RegistryValue number(Root root, std::wstring key, std::wstring name, DWORD value,
                     std::wstring owned) {
  return {root, std::move(key),  std::move(name), RegistryValue::Kind::Number, {}, value,
          {},   std::move(owned)};
}
RegistryValue binary(Root root, std::wstring key, std::wstring name,
                     std::vector<std::uint8_t> value, std::wstring owned) {
  return {root, std::move(key),   std::move(name), RegistryValue::Kind::Binary, {},
          0,    std::move(value), std::move(owned)};
}
RegistryValue keyOnly(Root root, std::wstring key, std::wstring owned) {
  return {root, std::move(key), {}, RegistryValue::Kind::KeyOnly, {}, 0, {}, std::move(owned)};
}

std::wstring joined(std::span<const std::string_view> items, std::wstring_view prefix) {
  std::wstring out;
  for (std::string_view item : items) {
    if (!out.empty()) out += L',';
    out += prefix;
    out += widen(item);
  }
  return out;
}

LSTATUS writeValue(HKEY hive, const RegistryValue& v) {
  HKEY key;
  LSTATUS status = RegCreateKeyExW(hive, fullKey(v.root, v.key).c_str(), 0, nullptr, 0,
                                   KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  const wchar_t* name = v.name.empty() ? nullptr : v.name.c_str();
  switch (v.kind) {
    case RegistryValue::Kind::KeyOnly:
      break;
    case RegistryValue::Kind::Text:
      status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                              static_cast<DWORD>((v.text.size() + 1) * sizeof(wchar_t)));
      break;
    case RegistryValue::Kind::Number:
      status = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.number),
                              sizeof v.number);
      break;
    case RegistryValue::Kind::Binary:
      status = RegSetValueExW(key, name, 0, REG_BINARY, v.bytes.data(),
                              static_cast<DWORD>(v.bytes.size()));
      break;
  }
  RegCloseKey(key);
  return status;
}

// Whether the key at path has neither values nor subkeys (false when it cannot be opened).
bool isEmptyKey(HKEY hive, const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  const LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                          nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

struct RawValue {
  DWORD type = 0;
  std::vector<BYTE> data;
};

// The value name of path (below hive), in its type and bytes; none when there is no such value.
std::optional<RawValue> readRaw(HKEY hive, const std::wstring& path, const wchar_t* name,
                                REGSAM view = 0) {
  HKEY key;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
    return std::nullopt;
  RawValue value;
  DWORD size = 0;
  std::optional<RawValue> found;
  if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
    value.data.resize(size);
    if (RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) ==
        ERROR_SUCCESS) {
      value.data.resize(size);
      found = std::move(value);
    }
  }
  RegCloseKey(key);
  return found;
}

// Whether the value in the registry holds the data of v (text or number, as the codec writes
// shared values).
bool holds(HKEY hive, const RegistryValue& v) {
  const std::optional<RawValue> found =
      readRaw(hive, fullKey(v.root, v.key), v.name.empty() ? nullptr : v.name.c_str());
  if (!found) return false;
  if (v.kind == RegistryValue::Kind::Text) {
    const auto* text = reinterpret_cast<const BYTE*>(v.text.c_str());
    return found->type == REG_SZ &&
           std::vector<BYTE>(text, text + (v.text.size() + 1) * sizeof(wchar_t)) == found->data;
  }
  if (v.kind == RegistryValue::Kind::Number) {
    const auto* number = reinterpret_cast<const BYTE*>(&v.number);
    return found->type == REG_DWORD &&
           std::vector<BYTE>(number, number + sizeof v.number) == found->data;
  }
  return found->type == REG_BINARY && found->data == v.bytes;
}

LSTATUS writeRaw(HKEY hive, const std::wstring& path, const wchar_t* name, const RawValue& value,
                 REGSAM view = 0) {
  HKEY key;
  LSTATUS status = RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                                   &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(key, name, 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size()));
  RegCloseKey(key);
  return status;
}

// The name under which kReplacedKey keeps what v replaced.
std::wstring replacedName(const RegistryValue& v) {
  return fullKey(v.root, v.key) + L"|" + v.name;
}

const wchar_t* valueName(const RegistryValue& v) {
  return v.name.empty() ? nullptr : v.name.c_str();
}

// Keeps what a shared value held before the codec writes it, unless it holds the codec's data
// already or an earlier registration kept something for it.
LSTATUS keepReplaced(HKEY hive, const RegistryValue& v) {
  if (holds(hive, v)) return ERROR_SUCCESS;
  const std::optional<RawValue> before = readRaw(hive, fullKey(v.root, v.key), valueName(v));
  if (!before) return ERROR_SUCCESS;
  const std::wstring name = replacedName(v);
  if (readRaw(hive, kReplacedKey, name.c_str(), kReplacedView)) return ERROR_SUCCESS;
  return writeRaw(hive, kReplacedKey, name.c_str(), *before, kReplacedView);
}

void deleteKeyIfEmpty(HKEY hive, const wchar_t* path, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(hive, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 0, values = 0;
  const LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                          nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (status == ERROR_SUCCESS && subkeys == 0 && values == 0) RegDeleteKeyExW(hive, path, view, 0);
}

void tellShell() {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

}  // namespace

HKEY hiveOf(Scope scope) {
  return scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring rootPath(Root root) {
  return root == Root::Classes ? L"SOFTWARE\\Classes" : L"SOFTWARE";
}

std::wstring fullKey(Root root, const std::wstring& key) {
  return rootPath(root) + L"\\" + key;
}

std::wstring guidText(const GUID& g) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::vector<RegistryValue> registryValues(const std::wstring& dllPath) {
  std::vector<RegistryValue> values;
  const auto C = Root::Classes;
  const auto S = Root::Software;
  for (const CodecClass& codec : kCodecClasses) {
    const FormatDescription& format = host::descriptionOf(codec.format);
    const std::wstring clsid = guidText(codec.decoder);
    const std::wstring name = widen(format.shortTitle()) + L" Decoder";
    const std::wstring cls = L"CLSID\\" + clsid;
    values.push_back(text(C, cls, L"", name, cls));
    values.push_back(text(C, cls, L"FriendlyName", name, cls));
    values.push_back(text(C, cls, L"Author", kVendorName, cls));
    values.push_back(text(C, cls, L"Vendor", guidText(kVendor), cls));
    values.push_back(text(C, cls, L"Version", widen(PLANES_VERSION), cls));
    values.push_back(text(C, cls, L"SpecVersion", L"1.0.0.0", cls));
    values.push_back(text(C, cls, L"ColorManagementVersion", L"1.0.0.0", cls));
    values.push_back(text(C, cls, L"ContainerFormat", guidText(codec.container), cls));
    values.push_back(text(C, cls, L"FileExtensions", joined(format.extensions, L"."), cls));
    values.push_back(text(C, cls, L"MimeTypes", widen(format.mimeType), cls));
    values.push_back(number(C, cls, L"SupportAnimation", 0, cls));
    values.push_back(number(C, cls, L"SupportChromakey", 0, cls));
    values.push_back(number(C, cls, L"SupportLossless", 1, cls));
    values.push_back(number(C, cls, L"SupportMultiframe", 0, cls));
    values.push_back(
        keyOnly(C, cls + L"\\Formats\\" + guidText(GUID_WICPixelFormat4bppIndexed), cls));
    values.push_back(text(C, cls + L"\\InprocServer32", L"", dllPath, cls));
    values.push_back(text(C, cls + L"\\InprocServer32", L"ThreadingModel", L"Both", cls));
    const FormatSignature& signature = format.signature;
    const std::wstring pattern = cls + L"\\Patterns\\0";
    values.push_back(number(C, pattern, L"Position", static_cast<DWORD>(signature.offset), cls));
    values.push_back(
        number(C, pattern, L"Length", static_cast<DWORD>(signature.bytes.size()), cls));
    values.push_back(
        binary(C, pattern, L"Pattern", {signature.bytes.begin(), signature.bytes.end()}, cls));
    values.push_back(
        binary(C, pattern, L"Mask", std::vector<std::uint8_t>(signature.bytes.size(), 0xFF), cls));

    const std::wstring instance =
        L"CLSID\\" + guidText(CATID_WICBitmapDecoders) + L"\\Instance\\" + clsid;
    values.push_back(text(C, instance, L"CLSID", clsid, instance));
    values.push_back(text(C, instance, L"FriendlyName", name, instance));

    for (std::string_view extension : format.extensions) {
      const std::wstring ext = L"." + widen(extension);
      const std::size_t first = values.size();
      values.push_back(text(C, ext, L"Content Type", widen(format.mimeType), ext));
      values.push_back(text(C, ext, L"PerceivedType", L"image", ext));
      values.push_back(
          text(C, ext + L"\\ShellEx\\" + kThumbnailHandler, L"", kImagingThumbnailProvider, ext));
      values.push_back(text(C, ext + L"\\OpenWithProgids", kPhotoViewerProgId, L"", ext));
      values.push_back(
          text(S, L"Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap", ext, L"picture", L""));
      values.push_back(text(S, L"Microsoft\\Windows Photo Viewer\\Capabilities\\FileAssociations",
                            ext, kPhotoViewerProgId, L""));
      for (std::size_t i = first; i < values.size(); ++i) values[i].shared = true;
    }
  }
  return values;
}

HRESULT registerCodec(Scope scope, const std::wstring& dllPath) {
  const HKEY hive = hiveOf(scope);
  for (const RegistryValue& v : registryValues(dllPath)) {
    LSTATUS status = v.shared ? keepReplaced(hive, v) : ERROR_SUCCESS;
    if (status == ERROR_SUCCESS) status = writeValue(hive, v);
    if (status != ERROR_SUCCESS) {
      unregisterCodec(scope, dllPath);
      return HRESULT_FROM_WIN32(status);
    }
  }
  tellShell();
  return S_OK;
}

HRESULT unregisterCodec(Scope scope, const std::wstring& dllPath) {
  const HKEY hive = hiveOf(scope);
  const std::vector<RegistryValue> values = registryValues(dllPath);
  LSTATUS failed = ERROR_SUCCESS;
  for (const RegistryValue& v : values) {
    if (v.kind == RegistryValue::Kind::KeyOnly) continue;
    if (v.shared) {
      // What the codec replaced goes back while the value is still the codec's (or gone);
      // another program's value written since stays.
      const std::wstring name = replacedName(v);
      const std::optional<RawValue> replaced =
          readRaw(hive, kReplacedKey, name.c_str(), kReplacedView);
      const bool ours = holds(hive, v);
      const bool gone = !readRaw(hive, fullKey(v.root, v.key), valueName(v));
      if (replaced && (ours || gone)) {
        const LSTATUS status = writeRaw(hive, fullKey(v.root, v.key), valueName(v), *replaced);
        if (status != ERROR_SUCCESS) {
          failed = status;
          continue;  // kept, so that a later attempt can put it back
        }
      }
      if (replaced) {
        HKEY kept;
        if (RegOpenKeyExW(hive, kReplacedKey, 0, KEY_SET_VALUE | kReplacedView, &kept) ==
            ERROR_SUCCESS) {
          RegDeleteValueW(kept, name.c_str());
          RegCloseKey(kept);
        }
        continue;
      }
      if (!ours) continue;
    }
    HKEY key;
    if (RegOpenKeyExW(hive, fullKey(v.root, v.key).c_str(), 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
      continue;
    const LSTATUS status = RegDeleteValueW(key, v.name.empty() ? nullptr : v.name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) failed = status;
    RegCloseKey(key);
  }
  // Every key on the way from a value up to the key the codec owns there, deepest first, once
  // it is empty.
  std::vector<std::wstring> keys;
  for (const RegistryValue& v : values) {
    if (v.owned.empty()) continue;
    for (std::wstring key = v.key; key.size() >= v.owned.size();) {
      keys.push_back(fullKey(v.root, key));
      const std::size_t slash = key.rfind(L'\\');
      if (slash == std::wstring::npos) break;
      key.resize(slash);
    }
  }
  std::sort(keys.begin(), keys.end(), [](const std::wstring& a, const std::wstring& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  for (const std::wstring& key : keys) {
    if (isEmptyKey(hive, key)) {
      const LSTATUS status = RegDeleteKeyW(hive, key.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) failed = status;
    }
  }
  deleteKeyIfEmpty(hive, kReplacedKey, kReplacedView);
  deleteKeyIfEmpty(hive, kOwnKey, kReplacedView);
  tellShell();
  return failed == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(failed);
}

}  // namespace wic
