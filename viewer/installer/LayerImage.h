// Whether a file is a layered provider DLL of a given architecture: a PE image for that machine
// that exports WSPStartup by name. Works on the file's bytes, so a 64-bit process can check the
// 32-bit layer it registers for 32-bit processes without loading it.
#pragma once
#include <windows.h>
#include <string>

// Null when the bytes are such a DLL, else what is wrong with them, as a phrase.
const char* LayerImageProblem(const BYTE* image, size_t length, WORD machine);

// The same for a file; also says when the file is missing (LayerFileMissing) or cannot be read.
std::string LayerFileProblem(const char* path, WORD machine);
inline constexpr const char* LayerFileMissing = "is missing";
