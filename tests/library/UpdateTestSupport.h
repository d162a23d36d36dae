#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvxtest {

// Runs a shell command; its exit status (-1 when it could not be run).
int Shell(const std::string& command);
// Single quotes for the shell.
std::string Quoted(const std::string& text);
// Makes an archive with the real 7zz or zip command of the paths (relative
// to dir) and answers its bytes ("" on failure).
std::string Make7z(const std::string& dir, const std::vector<std::string>& paths);
std::string MakeZip(const std::string& dir, const std::vector<std::string>& paths);
// The engine folder and path of this test process (below its own data folder).
std::string EngineFolder();
std::string EnginePath();
// Copies the stand-in engine to the engine path, without its execute bit, as
// an unpacked download would be.
bool InstallTestEngine();
std::vector<uint8_t> Bytes(const std::string& text);

}  // namespace tvxtest
