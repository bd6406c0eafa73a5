#include "host/files.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace host {

namespace {

unsigned long processId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(::getpid());
#endif
}

}  // namespace

std::string readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string("cannot open (") + std::strerror(errno) + ")";
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return "cannot read";
  return "";
}

std::string writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                bool overwrite) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!overwrite && fs::exists(path, error)) return "already exists (use --force to replace it)";
  // Unique within the process; the process id keeps two runs on one folder apart.
  static std::atomic<unsigned> written{0};
  std::string temporary =
      path + ".part-" + std::to_string(processId()) + "-" + std::to_string(written++);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, error);
      return std::string("cannot write (") + std::strerror(errno) + ")";
    }
  }
#ifndef _WIN32
  if (!overwrite) {
    // link() refuses an existing name, so a file that appeared meanwhile is never replaced.
    int linked = ::link(temporary.c_str(), path.c_str());
    int linkError = errno;
    fs::remove(temporary, error);
    if (linked != 0)
      return linkError == EEXIST ? "already exists (use --force to replace it)"
                                 : std::string("cannot write (") + std::strerror(linkError) + ")";
    return "";
  }
#endif
  fs::rename(temporary, path, error);
  if (error) {
    fs::remove(temporary, error);
    return "cannot write (" + error.message() + ")";
  }
  return "";
}

}  // namespace host
