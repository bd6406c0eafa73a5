// SPDX-License-Identifier: MIT
// A 32-bit Windows DLL laid out as a Windows loader maps it: headers and sections at their
// relative addresses, base relocations applied for the address it is loaded at, its imports,
// exports, thread-local storage and resources found through the data directories.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class PeImage {
 public:
  struct Section {
    std::string name;
    std::uint32_t rva;
    std::uint32_t size;  // in memory, rounded up to whole pages
    bool writable;
    bool executable;
  };
  // One slot of the import address table, which the loader fills with the function's address.
  struct Import {
    std::string dll;
    std::string name;
    std::uint32_t slotRva;
  };
  // The thread-local storage directory, with its addresses already relocated.
  struct Tls {
    std::uint32_t templateStart = 0;
    std::uint32_t templateEnd = 0;
    std::uint32_t zeroFill = 0;
    std::uint32_t indexAddress = 0;
    std::uint32_t callbacksAddress = 0;  // a null-terminated array of callback addresses
  };

  // Reads the file and lays it out for loading at base. Throws EmulationError naming the file
  // when it is not a 32-bit x86 DLL or uses what this loader does not handle.
  PeImage(const std::string& path, std::uint32_t base);

  std::uint32_t base() const { return base_; }
  std::uint32_t preferredBase() const { return preferredBase_; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(image_.size()); }
  const std::vector<std::uint8_t>& bytes() const { return image_; }
  std::uint32_t entryPointRva() const { return entryPointRva_; }
  const std::vector<Section>& sections() const { return sections_; }
  const std::vector<Import>& imports() const { return imports_; }
  const std::map<std::string, std::uint32_t>& exports() const { return exports_; }  // name: rva
  bool hasTls() const { return hasTls_; }
  const Tls& tls() const { return tls_; }
  std::uint32_t resourceRva() const { return resourceRva_; }
  int relocationsApplied() const { return relocationsApplied_; }

  // Fills an import address table slot.
  void bind(const Import& import, std::uint32_t address);

 private:
  std::uint32_t get32(std::uint32_t rva) const;
  std::uint16_t get16(std::uint32_t rva) const;
  std::string getString(std::uint32_t rva) const;
  void applyRelocations(std::uint32_t rva, std::uint32_t size);
  void readImports(std::uint32_t rva);
  void readExports(std::uint32_t rva, std::uint32_t size);
  [[noreturn]] void fail(const std::string& what) const;

  std::string path_;
  std::vector<std::uint8_t> image_;
  std::uint32_t base_;
  std::uint32_t preferredBase_ = 0;
  std::uint32_t entryPointRva_ = 0;
  std::vector<Section> sections_;
  std::vector<Import> imports_;
  std::map<std::string, std::uint32_t> exports_;
  bool hasTls_ = false;
  Tls tls_;
  std::uint32_t resourceRva_ = 0;
  int relocationsApplied_ = 0;
};
