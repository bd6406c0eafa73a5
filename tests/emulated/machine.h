// SPDX-License-Identifier: MIT
// A 32-bit x86 CPU and its address space, emulated: the ground the plug-in DLLs run on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

struct uc_struct;

// Anything that keeps the emulated program from running as a Windows host would let it: a fault,
// a call of a function the emulation does not provide, a broken calling convention.
class EmulationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "0x0000abcd": how addresses and handles appear in messages.
std::string hexValue(std::uint64_t value);

class Machine {
 public:
  enum class Access { None, Read, ReadWrite, ReadExecute, ReadWriteExecute, Execute };
  enum class Register { Eax, Ecx, Edx, Ebx, Esp, Ebp, Esi, Edi, Eip, Eflags };

  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Page-aligned regions.
  void map(std::uint32_t address, std::uint32_t size, Access access);
  void protect(std::uint32_t address, std::uint32_t size, Access access);

  // The mapped region around address (split where protections differ), or, when address is
  // not mapped, the unmapped stretch up to the next region, with access None.
  struct Region {
    std::uint32_t begin;
    std::uint32_t end;  // exclusive
    bool mapped;
    Access access;
  };
  Region region(std::uint32_t address) const;

  void read(std::uint32_t address, void* out, std::size_t size) const;
  void write(std::uint32_t address, const void* data, std::size_t size);
  std::uint32_t read32(std::uint32_t address) const;
  void write32(std::uint32_t address, std::uint32_t value);
  // A NUL-terminated string, without its terminator.
  std::string readString(std::uint32_t address) const;

  std::uint32_t get(Register r) const;
  void set(Register r, std::uint32_t value);

  // Makes FS address the segment at base (the thread environment block), through a descriptor
  // table that is placed in the page at tableAddress.
  void setFsSegment(std::uint32_t base, std::uint32_t tableAddress);

  // Before any instruction in [begin, end) runs, onTrap(address) is called instead. The handler
  // does the work and sets EIP (and ESP) itself; an exception it throws ends the run and is
  // thrown again by run().
  void setTrapRange(std::uint32_t begin, std::uint32_t end,
                    std::function<void(std::uint32_t)> onTrap);

  // Runs from begin until EIP reaches until. Throws EmulationError on a fault.
  void run(std::uint32_t begin, std::uint32_t until);

 private:
  friend struct MachineHooks;

  uc_struct* uc_ = nullptr;
  std::function<void(std::uint32_t)> onTrap_;
  std::string pendingError_;  // set by a hook, thrown when the run has stopped
  std::string faultDescription_;
};
