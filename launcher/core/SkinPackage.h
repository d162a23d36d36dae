#pragma once

// The skin package on disk: the folder it is unpacked into (with numbered
// fall-backs when that folder is unusable), the read-only files of an earlier
// run cleared out of the way, and the entry names the view loads its pictures
// by. Picture decoding and layout belong to the view.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/core/IDownloaderView.h"

namespace platform {
class Directory;
}

namespace launcher {

// The names the view looks pictures up by, plus "Thumbs.db" that an
// explorer may have left in the folder.
inline constexpr std::array<std::string_view, 23> kKnownSkinFiles = {
    "bk_main.jpg",       "btn_start.jpg",   "btn_start_mo.jpg",  "btn_start_se.jpg",
    "btn_start_di.jpg",  "btn_stop.jpg",    "btn_stop_mo.jpg",   "btn_stop_se.jpg",
    "btn_stop_di.jpg",   "btn_run.jpg",     "btn_run_mo.jpg",    "btn_run_se.jpg",
    "btn_run_di.jpg",    "btn_close.jpg",   "btn_close_mo.jpg",  "btn_close_se.jpg",
    "btn_close_di.jpg",  "btn_folder.jpg",  "btn_folder_mo.jpg", "btn_folder_se.jpg",
    "btn_folder_di.jpg", "progressbar.jpg", "Thumbs.db",
};

// How many numbered folders are tried after the first.
inline constexpr int kSkinFallbackFolders = 5;

// What one skin package may unpack to, all pictures together; a package past
// it (or a picture that inflates past the size it declares) leaves the skin
// unapplied.
inline constexpr uint64_t kMaxSkinUnpackBytes = uint64_t{64} << 20;

// The temporary folder (the process's private one, see
// platform::PrivateTempFolder, when tempFolder is empty or missing) plus the
// game id ("velmora" when empty) and "/".
std::string SkinFolder(std::string_view tempFolder, std::string_view gameId);

// Gives the owner write permission on every known file present in folder, so
// that unpacking can replace it. Links, folders and other users' files are
// left alone; the change goes through a handle of the file checked.
void ClearReadOnlyFiles(const platform::Directory& folder);

// Unpacks every entry below folder, relative to its handle, within
// kMaxSkinUnpackBytes; true only when every entry was extracted. Fails at
// once for no bytes or no folder.
bool UnpackSkinInto(const void* data, int64_t length, const platform::Directory& folder);

// The whole unpacking: the skin folder, then "<folder>0/" to "<folder>4/"
// until one takes every entry (the last one is used when none does), and the
// package's entry names in package order. A folder is only unpacked into
// when it is a real folder of the user's own that nobody else can write
// into; it is made (mode 0700) when missing.
UnpackedSkin UnpackSkinPackage(const void* data, int64_t length, std::string_view tempFolder,
                               std::string_view gameId);

}  // namespace launcher
