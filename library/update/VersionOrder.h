#pragma once

#include <string_view>

// Orders dotted version texts ("3.5.1.7") by their numbers, part by part; a
// missing part counts as 0. Below zero when a is older than b, zero when they
// are the same, above zero when a is newer. A part that is not a number
// compares as text.
int CompareVersions(std::string_view a, std::string_view b);
