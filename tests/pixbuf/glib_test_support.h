// SPDX-License-Identifier: MIT
// Helpers of the desktop tests, which stand on GLib: whole files, programs run to their end,
// GLib's string lists.
#pragma once

#include <glib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

struct ProgramRun {
  bool exitedWithZero = false;
  std::string out;
  std::string err;
  std::string output() const { return out + err; }
};

// Runs a program (found in PATH unless named by a path) with the test's environment, changed
// by changes: "NAME=value" sets a variable, "NAME" removes it.
inline ProgramRun runProgram(const std::vector<std::string>& args,
                             const std::vector<std::string>& changes = {}) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  gchar** env = g_get_environ();
  for (const std::string& change : changes) {
    const std::size_t eq = change.find('=');
    env = eq == std::string::npos ? g_environ_unsetenv(env, change.c_str())
                                  : g_environ_setenv(env, change.substr(0, eq).c_str(),
                                                     change.substr(eq + 1).c_str(), TRUE);
  }
  gchar *out = nullptr, *err = nullptr;
  gint status = 0;
  GError* error = nullptr;
  ProgramRun run;
  if (g_spawn_sync(nullptr, argv.data(), env, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err,
                   &status, &error)) {
    run.exitedWithZero = g_spawn_check_wait_status(status, nullptr);
    run.out = out ? out : "";
    run.err = err ? err : "";
  } else {
    run.err = error->message;
    g_error_free(error);
  }
  g_free(out);
  g_free(err);
  g_strfreev(env);
  return run;
}

// A GLib string list as strings; the list is freed.
inline std::vector<std::string> strings(gchar** list) {
  std::vector<std::string> out;
  for (gchar** s = list; s && *s; ++s) out.emplace_back(*s);
  g_strfreev(list);
  return out;
}
