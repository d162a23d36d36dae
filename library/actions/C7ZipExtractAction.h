#pragma once

#include "library/actions/IExtractAction.h"

// Unpacks a 7z archive held in memory with libarchive's 7z reader. Folders
// are made along the entries' names; an entry that is a folder makes nothing
// of its own. Entries whose names leave the folder, and entries that are
// neither files nor folders (links), are refused, and then nothing of the
// archive is written.
class C7ZipExtractAction final : public IExtractAction {
  public:
    int32_t Extract(const uint8_t* data, int64_t size, const std::string& folder) override;
};

// The unpacker behind the action: 0 when every entry was written, 2 when the
// archive could not be opened, 4 for an encrypted entry, 1 for a damaged or
// refused entry (one that inflates past the size it declares, or an archive
// that would unpack to more than limit bytes, included), 11 for a file that
// could not be written in full.
int32_t SevenZipUnpack(const std::string& folder, const uint8_t* data, int64_t size,
                       uint64_t limit = kMaxUpdateUnpackBytes);
