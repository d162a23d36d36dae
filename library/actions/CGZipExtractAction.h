#pragma once

#include "library/actions/IExtractAction.h"

// Unpacks a zip archive held in memory with the zip wrapper. Any failure
// gives kExtractUnsupported and leaves the folder's files as they were.
class CGZipExtractAction final : public IExtractAction {
  public:
    int32_t Extract(const uint8_t* data, int64_t size, const std::string& folder) override;
};
