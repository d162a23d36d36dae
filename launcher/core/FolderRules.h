#pragma once

// Where the game files may go: the program and engine paths that are off
// limits, the default download folder, and the checks a chosen folder must
// pass. Pure functions of their inputs; the folder chooser and the controller
// feed them what the system reports.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// Shown when a chosen folder fails one of the checks.
inline constexpr char kPathTooLongText[] = "선택하신 경로의 길이가 너무 길어 사용하실 수 없습니다.";
inline constexpr char kForbiddenPathText[] = "선택하신 경로는 사용하실 수 없습니다.";

// A folder path ends in "/" (empty stays empty).
std::string WithSlash(std::string folder);

// The program's engine stand-in below the program folder:
// <program folder>TVXDownloader/TVXDownloaderEngine.exe.
std::string EnginePath(std::string_view programFolder);

// The folder of a file path, ending in "/" (empty when there is no "/").
std::string FolderOfPath(std::string_view path);

// <home>Download/<folder name>/.
std::string DefaultDownloadFolder(std::string_view homeFolder, std::string_view folderName);

// The system folders no download may go into (each ending in "/"); a folder
// is refused when it equals one of them or lies below it.
const std::vector<std::string>& SystemFolders();

// The longest file name among the URLs (the characters after a URL's last
// "/", the whole URL when it has none), but at least 32.
size_t LongestFileName(const std::vector<std::string>& urls);

// A file of the list placed in folder would make a path longer than 250.
bool PathTooLong(std::string_view folder, const std::vector<std::string>& urls);

// The folder is "/", a system folder or below one, the engine's folder, or not
// an absolute path at all. Comparisons are exact and case-sensitive; folder
// and engineFolder end in "/".
bool IsForbiddenFolder(std::string_view folder, std::string_view engineFolder);

enum class FolderVerdict { kAccepted, kTooLong, kForbidden };

// Both checks on a chosen folder (already ending in "/"): the length first,
// then the forbidden folders.
FolderVerdict CheckChosenFolder(std::string_view folder, const std::vector<std::string>& urls,
                                std::string_view engineFolder);

// The message for a refused folder; empty for an accepted one.
std::string_view VerdictText(FolderVerdict verdict);

}  // namespace launcher
