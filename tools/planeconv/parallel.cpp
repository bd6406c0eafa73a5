// SPDX-License-Identifier: MIT
#include "tools/planeconv/parallel.h"

#include <new>
#include <vector>

#ifdef _WIN32
#include <windows.h>

namespace {
DWORD WINAPI threadMain(LPVOID work) {
  (*static_cast<const std::function<void()>*>(work))();
  return 0;
}
}  // namespace

void runOnThreads(unsigned count, const std::function<void()>& work) {
  std::vector<HANDLE> threads;
  for (unsigned i = 1; i < count; ++i) {
    HANDLE thread =
        CreateThread(nullptr, 0, threadMain, const_cast<std::function<void()>*>(&work), 0, nullptr);
    if (thread) threads.push_back(thread);
  }
  work();  // the calling thread is one of them
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

unsigned coreCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

void pauseMilliseconds(int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

static_assert(sizeof(CRITICAL_SECTION) <= 64);
Lock::Lock() {
  InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}
Lock::~Lock() {
  DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void Lock::lock() {
  EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void Lock::unlock() {
  LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

#else
#include <chrono>
#include <mutex>
#include <thread>

void runOnThreads(unsigned count, const std::function<void()>& work) {
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < count; ++i) threads.emplace_back(work);
  work();  // the calling thread is one of them
  for (std::thread& thread : threads) thread.join();
}

unsigned coreCount() {
  unsigned cores = std::thread::hardware_concurrency();
  return cores ? cores : 1;
}

void pauseMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

static_assert(sizeof(std::mutex) <= 64);
Lock::Lock() {
  new (storage_) std::mutex;
}
Lock::~Lock() {
  reinterpret_cast<std::mutex*>(storage_)->~mutex();
}
void Lock::lock() {
  reinterpret_cast<std::mutex*>(storage_)->lock();
}
void Lock::unlock() {
  reinterpret_cast<std::mutex*>(storage_)->unlock();
}
#endif
