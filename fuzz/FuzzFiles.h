// The parsers read files, so the fuzz targets hand them files: one scratch folder per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Path of a scratch file named name, in a folder made once per process.
std::string ScratchPath(const char* name);
void WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size);
std::string ReadOutput(const std::string& path);
// Stops the run with a message: libFuzzer then keeps the input that caused it.
[[noreturn]] void Fail(const char* what);

} // namespace fuzz
