#pragma once

#include <string>
#include <vector>

// The local files the manifest's offer asks to update: the engine when its
// installed version differs from the offered one (compared as text, without
// any ordering), or when the versions agree but the file is missing. Logs the
// comparison and the count.
std::vector<std::string> BuildUpdateList(const std::string& enginePath,
                                         const std::string& offeredVersion);
