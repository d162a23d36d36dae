#pragma once

#include <string>

// The version a program file carries: for an ELF image the NUL-terminated
// text of its ".fileversion" section, for a PE image the FileVersion text of
// its version resource. Empty when the path is empty, the file is missing or
// unreadable, or it carries no version. The file is read by offsets that are
// all checked against its size, so a damaged or hostile file gives "" and
// nothing more.
std::string ReadFileVersion(const std::string& path);
