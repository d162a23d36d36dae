#pragma once

#include <cstdint>
#include <string>

// Result codes of an extract action.
enum ExtractResult : int32_t {
    kExtractOk = 0,
    kExtractFailed = 1,        // a damaged entry, a refused name, a file that could not be written
    kExtractNoArchive = 2,     // the bytes hold no archive that can be opened
    kExtractBadArguments = 3,  // no data, an empty body or no folder
    kExtractUnsupported = 4,   // zip: any failure; 7z: an encrypted or unsupported entry
    kExtractParameter = 5,
};

// What one update archive may unpack to, all its files together: far above
// any engine update, far below what fills a disk. An archive past it (or an
// entry that inflates past the size it declares) is refused and leaves
// nothing behind.
inline constexpr uint64_t kMaxUpdateUnpackBytes = uint64_t{256} << 20;

// Unpacks an archive held in memory into a folder. Actions have no state.
class IExtractAction {
  public:
    virtual ~IExtractAction() = default;
    virtual int32_t Extract(const uint8_t* data, int64_t size, const std::string& folder) = 0;
};
