#pragma once

#include <string>

// Makes every folder along path exist, splitting at "/". The text after the
// last "/" is not created, so a folder given without a trailing "/" makes only
// its parent. An empty path fails; a path that already exists succeeds.
bool EnsureDirectoryPath(const std::string& path);

// "\" becomes "/", and a trailing "/" is added when missing.
std::string NormaliseFolder(std::string folder);
