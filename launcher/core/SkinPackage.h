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

// The temporary folder ("/tmp/" when tempFolder is empty or missing) plus the
// game id ("velmora" when empty) and "/".
std::string SkinFolder(std::string_view tempFolder, std::string_view gameId);

// Gives the owner write permission on every known file present in folder, so
// that unpacking can replace it. Symbolic links are left alone.
void ClearReadOnlyFiles(const std::string& folder);

// Unpacks every entry below folder; true only when every entry was
// extracted. Fails at once for no bytes or no folder, and for a folder that
// exists as a symbolic link or belongs to another user (a shared temporary
// folder must not let anyone else choose where the pictures go).
bool UnpackSkinInto(const void* data, int64_t length, const std::string& folder);

// The whole unpacking: the skin folder, then "<folder>0/" to "<folder>4/"
// until one takes every entry (the last one is used when none does), and the
// package's entry names in package order.
UnpackedSkin UnpackSkinPackage(const void* data, int64_t length, std::string_view tempFolder,
                               std::string_view gameId);

}  // namespace launcher
