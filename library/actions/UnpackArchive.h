#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "library/actions/IExtractAction.h"

enum class ArchiveType : int32_t { Unknown = 0, SevenZip = 1, Zip = 2 };

// The type named by the extension of a URL, in any letter case: "7z" or
// "zip" after its last "." (a "." in first place does not count).
ArchiveType GetArchiveType(const std::string& url);

// The action for a type; none for an unknown type.
std::unique_ptr<IExtractAction> CreateExtractAction(ArchiveType type);

// Unpacks data into folder: 0 unpacked, 5 failed or no action for the type,
// 6 when the action reported kExtractParameter.
int32_t UnpackArchive(ArchiveType type, const uint8_t* data, int64_t size,
                      const std::string& folder);
