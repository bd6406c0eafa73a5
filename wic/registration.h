// SPDX-License-Identifier: MIT
// What registering the codec writes to the registry, as one table: the decoder classes (their
// names, container formats, extensions, MIME types, pixel format, byte patterns from the formats'
// descriptions, in-process server), their instances in the category of bitmap decoders, and for
// the shell the extensions' content type, perceived type, thumbnail provider, kind and the photo
// viewer's open-with entries. DllRegisterServer writes the table and DllUnregisterServer takes
// exactly it away again; the tests hold the registry to the same table.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wic {

// Per machine (HKEY_LOCAL_MACHINE) or for the current user (HKEY_CURRENT_USER).
enum class Scope { Machine, User };
// Where a key lies: the classes root or the software root of the scope's hive.
enum class Root { Classes, Software };

HKEY hiveOf(Scope scope);
// "SOFTWARE\Classes" or "SOFTWARE" below the hive.
std::wstring rootPath(Root root);

// One value of a key; a key with kind KeyOnly has no value of its own, only its being there
// counts (a decoder's pixel format).
struct RegistryValue {
  enum class Kind { KeyOnly, Text, Number, Binary };
  Root root;
  std::wstring key;   // below the root
  std::wstring name;  // empty: the key's default value
  Kind kind;
  std::wstring text;
  DWORD number = 0;
  std::vector<std::uint8_t> bytes;
  // The topmost key that the codec owns on this value's way: removed, with every emptied key
  // below it, when the codec is unregistered. Empty: the key belongs to the system, only the
  // value is the codec's.
  std::wstring owned;
  // Whether others may write the same value (an extension's content type, the kind map):
  // unregistering then removes it only while it still holds what the codec wrote.
  bool shared = false;
};

// The values registration writes, for the codec DLL at dllPath.
std::vector<RegistryValue> registryValues(const std::wstring& dllPath);

// The full path of a key below the hive: rootPath(root) + "\" + key.
std::wstring fullKey(Root root, const std::wstring& key);

// Where registration keeps the shared values it wrote over (another program's content type of
// an extension, say), below the scope's hive, in the 64-bit view of the registry so that the
// codecs of both widths share it: one value each, named by the value's key and name.
constexpr wchar_t kOwnKey[] = L"SOFTWARE\\planeplugins";
constexpr wchar_t kReplacedKey[] = L"SOFTWARE\\planeplugins\\Replaced";
constexpr REGSAM kReplacedView = KEY_WOW64_64KEY;

// Writes every value of the table, keeping a shared value that held something else in
// kReplacedKey first; on a failure removes what it wrote and answers the error.
HRESULT registerCodec(Scope scope, const std::wstring& dllPath);
// Removes every value of the table (a shared one only while it holds the codec's data, for the
// DLL at dllPath, and then puts back what it replaced) and every owned key that is then empty,
// kReplacedKey too. S_OK also when nothing was there.
HRESULT unregisterCodec(Scope scope, const std::wstring& dllPath);

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in upper case, as the registry spells class ids.
std::wstring guidText(const GUID& guid);

}  // namespace wic
