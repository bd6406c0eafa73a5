// SPDX-License-Identifier: MIT
#include "tests/emulated/machine.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>

#include "framework/little_endian.h"

namespace {

void check(uc_err error, const std::string& what) {
  if (error != UC_ERR_OK) throw EmulationError(what + ": " + uc_strerror(error));
}

std::uint32_t protection(Machine::Access access) {
  switch (access) {
    case Machine::Access::None:
      return UC_PROT_NONE;
    case Machine::Access::Read:
      return UC_PROT_READ;
    case Machine::Access::ReadWrite:
      return UC_PROT_READ | UC_PROT_WRITE;
    case Machine::Access::ReadExecute:
      return UC_PROT_READ | UC_PROT_EXEC;
    case Machine::Access::ReadWriteExecute:
      return UC_PROT_ALL;
    case Machine::Access::Execute:
      return UC_PROT_EXEC;
  }
  return UC_PROT_NONE;
}

int registerId(Machine::Register r) {
  switch (r) {
    case Machine::Register::Eax:
      return UC_X86_REG_EAX;
    case Machine::Register::Ecx:
      return UC_X86_REG_ECX;
    case Machine::Register::Edx:
      return UC_X86_REG_EDX;
    case Machine::Register::Ebx:
      return UC_X86_REG_EBX;
    case Machine::Register::Esp:
      return UC_X86_REG_ESP;
    case Machine::Register::Ebp:
      return UC_X86_REG_EBP;
    case Machine::Register::Esi:
      return UC_X86_REG_ESI;
    case Machine::Register::Edi:
      return UC_X86_REG_EDI;
    case Machine::Register::Eip:
      return UC_X86_REG_EIP;
    case Machine::Register::Eflags:
      return UC_X86_REG_EFLAGS;
  }
  return UC_X86_REG_INVALID;
}

const char* accessName(uc_mem_type type) {
  switch (type) {
    case UC_MEM_READ_UNMAPPED:
      return "read of unmapped memory";
    case UC_MEM_WRITE_UNMAPPED:
      return "write to unmapped memory";
    case UC_MEM_FETCH_UNMAPPED:
      return "jump to unmapped memory";
    case UC_MEM_READ_PROT:
      return "read of memory that may not be read";
    case UC_MEM_WRITE_PROT:
      return "write to memory that may not be written";
    case UC_MEM_FETCH_PROT:
      return "jump to memory that may not be executed";
    default:
      return "invalid memory access";
  }
}

}  // namespace

std::string hexValue(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
  return text;
}

struct MachineHooks {
  static void trap(uc_engine* uc, std::uint64_t address, std::uint32_t, void* user) {
    auto* machine = static_cast<Machine*>(user);
    try {
      machine->onTrap_(static_cast<std::uint32_t>(address));
    } catch (const std::exception& error) {
      machine->pendingError_ = error.what();
      uc_emu_stop(uc);
    }
  }

  static bool fault(uc_engine* uc, uc_mem_type type, std::uint64_t address, int size, std::int64_t,
                    void* user) {
    auto* machine = static_cast<Machine*>(user);
    std::uint32_t eip = 0;
    uc_reg_read(uc, UC_X86_REG_EIP, &eip);
    machine->faultDescription_ = std::string(accessName(type)) + " (" + std::to_string(size) +
                                 " bytes at " + hexValue(address) + ") by the instruction at " +
                                 hexValue(eip);
    return false;
  }
};

Machine::Machine() {
  check(uc_open(UC_ARCH_X86, UC_MODE_32, &uc_), "cannot start the x86 emulator");
  uc_hook hook;
  check(uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(MachineHooks::fault),
                    this, 1, 0),
        "cannot watch for faults");
}

Machine::~Machine() {
  uc_close(uc_);
}

void Machine::map(std::uint32_t address, std::uint32_t size, Access access) {
  check(uc_mem_map(uc_, address, size, protection(access)), "cannot map " + hexValue(address));
}

void Machine::protect(std::uint32_t address, std::uint32_t size, Access access) {
  check(uc_mem_protect(uc_, address, size, protection(access)),
        "cannot protect " + hexValue(address));
}

Machine::Region Machine::region(std::uint32_t address) const {
  uc_mem_region* regions = nullptr;
  std::uint32_t count = 0;
  check(uc_mem_regions(uc_, &regions, &count), "cannot list the memory regions");
  Region found{address & ~0xFFFu, 0, false, Access::None};
  std::uint64_t nextBegin = 0x100000000ull;
  for (std::uint32_t i = 0; i < count; ++i) {
    const uc_mem_region& r = regions[i];
    if (address >= r.begin && address <= r.end) {
      const std::uint32_t p = r.perms;
      const Access access = p == UC_PROT_ALL                      ? Access::ReadWriteExecute
                            : p == (UC_PROT_READ | UC_PROT_EXEC)  ? Access::ReadExecute
                            : p == (UC_PROT_READ | UC_PROT_WRITE) ? Access::ReadWrite
                            : p == UC_PROT_READ                   ? Access::Read
                            : p == UC_PROT_EXEC                   ? Access::Execute
                                                                  : Access::None;
      found = {static_cast<std::uint32_t>(r.begin), static_cast<std::uint32_t>(r.end + 1), true,
               access};
    } else if (r.begin > address && r.begin < nextBegin) {
      nextBegin = r.begin;
    }
  }
  uc_free(regions);
  if (!found.mapped)
    found.end = static_cast<std::uint32_t>(std::min<std::uint64_t>(nextBegin, 0xFFFFF000));
  return found;
}

void Machine::read(std::uint32_t address, void* out, std::size_t size) const {
  if (size == 0) return;
  if (uc_mem_read(uc_, address, out, size) != UC_ERR_OK)
    throw EmulationError("read of " + std::to_string(size) + " bytes at " + hexValue(address) +
                         ", which is not mapped memory");
}

void Machine::write(std::uint32_t address, const void* data, std::size_t size) {
  if (size == 0) return;
  if (uc_mem_write(uc_, address, data, size) != UC_ERR_OK)
    throw EmulationError("write of " + std::to_string(size) + " bytes at " + hexValue(address) +
                         ", which is not mapped memory");
}

std::uint32_t Machine::read32(std::uint32_t address) const {
  std::uint8_t bytes[4];
  read(address, bytes, 4);
  return readLe32(bytes);
}

void Machine::write32(std::uint32_t address, std::uint32_t value) {
  std::uint8_t bytes[4];
  writeLe32(bytes, value);
  write(address, bytes, 4);
}

std::string Machine::readString(std::uint32_t address) const {
  std::string text;
  for (;;) {
    char c;
    read(address + static_cast<std::uint32_t>(text.size()), &c, 1);
    if (c == '\0') return text;
    text.push_back(c);
    if (text.size() > 0x10000) throw EmulationError("unterminated string at " + hexValue(address));
  }
}

std::uint32_t Machine::get(Register r) const {
  std::uint32_t value = 0;
  uc_reg_read(uc_, registerId(r), &value);
  return value;
}

void Machine::set(Register r, std::uint32_t value) {
  check(uc_reg_write(uc_, registerId(r), &value), "cannot set a register");
}

namespace {

std::uint64_t segmentDescriptor(std::uint32_t base, std::uint32_t limit, std::uint64_t access,
                                std::uint64_t flags) {
  return (limit & 0xFFFF) | (std::uint64_t{base} & 0xFFFFFF) << 16 | access << 40 |
         std::uint64_t{limit >> 16 & 0xF} << 48 | flags << 52 | std::uint64_t{base >> 24} << 56;
}

}  // namespace

void Machine::setFsSegment(std::uint32_t base, std::uint32_t tableAddress) {
  // Descriptor 1: FS, a writable data segment of 4 KiB at base. Descriptor 2: the flat 32-bit
  // stack segment (the emulator's initial one addresses the stack with 16 bits).
  const std::uint64_t table[3] = {0, segmentDescriptor(base, 0xFFF, 0xF3, 0x4),
                                  segmentDescriptor(0, 0xFFFFF, 0x93, 0xC)};
  write(tableAddress, table, sizeof table);
  uc_x86_mmr gdtr{};
  gdtr.base = tableAddress;
  gdtr.limit = sizeof table - 1;
  check(uc_reg_write(uc_, UC_X86_REG_GDTR, &gdtr), "cannot load the descriptor table");
  const std::uint32_t fs = 1 << 3 | 3;
  check(uc_reg_write(uc_, UC_X86_REG_FS, &fs), "cannot load FS");
  const std::uint32_t ss = 2 << 3;
  check(uc_reg_write(uc_, UC_X86_REG_SS, &ss), "cannot load SS");
}

void Machine::setTrapRange(std::uint32_t begin, std::uint32_t end,
                           std::function<void(std::uint32_t)> onTrap) {
  onTrap_ = std::move(onTrap);
  uc_hook hook;
  check(uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(MachineHooks::trap), this,
                    begin, end - 1),
        "cannot set the trap range");
}

void Machine::run(std::uint32_t begin, std::uint32_t until) {
  pendingError_.clear();
  faultDescription_.clear();
  uc_err error = uc_emu_start(uc_, begin, until, 0, 0);
  if (!pendingError_.empty()) throw EmulationError(pendingError_);
  if (error != UC_ERR_OK) {
    throw EmulationError(faultDescription_.empty() ? std::string(uc_strerror(error)) + " at " +
                                                         hexValue(get(Register::Eip))
                                                   : faultDescription_);
  }
}
