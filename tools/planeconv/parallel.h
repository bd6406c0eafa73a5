// SPDX-License-Identifier: MIT
// The little threading planeconv needs, on both builds: run a function on N threads, a lock,
// a pause, the number of cores. Natively the standard library's threads; on Windows the
// system's own (this MinGW's standard library has no threads).
#pragma once

#include <functional>

// Runs work on count threads at once and returns when all have finished.
void runOnThreads(unsigned count, const std::function<void()>& work);
unsigned coreCount();
void pauseMilliseconds(int milliseconds);

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void lock();
  void unlock();

 private:
  alignas(8) unsigned char storage_[64];
};

class Locked {
 public:
  explicit Locked(Lock& lock) : lock_(lock) { lock_.lock(); }
  ~Locked() { lock_.unlock(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  Lock& lock_;
};
