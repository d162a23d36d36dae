#pragma once

#include <cstddef>
#include <string>

// Starting a downloaded file as the desktop would. On Linux a program is
// started directly with posix_spawn and anything else goes to xdg-open; on
// Windows both would be ShellExecuteEx with the "open" verb (CreateProcess
// for the direct start).
namespace platform {

// The system's process id (pid_t here); -1 for none.
using ProcessId = int;

// The first bytes of the file, at most n; empty when it cannot be read.
std::string ReadFileHead(const std::string& path, std::size_t n);

// Gives the file its owner's execute bit (downloads carry none) and starts it
// as a program without arguments, without waiting for it. The process id, or
// -1 when it could not be started.
ProcessId StartProgram(const std::string& path);

// Hands the file to the desktop's opener and waits for the opener's answer:
// true when a handler took the file.
bool OpenWithDesktop(const std::string& path);

}  // namespace platform
