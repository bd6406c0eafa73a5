// Whole files, read and written as a host that users trust with their files must: an output
// appears only when complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// Reads a whole file; answers an error message, empty on success.
std::string readFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// Writes bytes to path through a temporary name in the same folder, so that path appears only
// when complete; refuses to replace an existing file unless overwrite is set. Answers an error
// message, empty on success.
std::string writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                bool overwrite);

}  // namespace host
