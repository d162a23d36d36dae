#pragma once

// The folder button's flow: browse from the current folder, then accept the
// selection only when it passes the folder rules. The browsing itself is a
// view's (the Qt folder dialog, or a typed path in the terminal view).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/IMessageBox.h"

namespace launcher {

// "최소 <total size>의 용량이 필요합니다.\n".
std::string ChooserTitle(int64_t totalSize);
// "최소 <total size>의 용량이 필요합니다.\n남은용량 : <free bytes>".
std::string ChooserStatus(int64_t totalSize, int64_t freeBytes);

class IFolderBrowser {
  public:
    virtual ~IFolderBrowser() = default;
    // Lets the user pick a folder, starting with initialFolder selected; the
    // chosen folder, or nothing on cancel.
    virtual std::optional<std::string> Browse(const std::string& initialFolder,
                                              int64_t totalSize) = 0;
};

struct FolderChoiceInput {
    std::string currentFolder;
    int64_t totalSize = 0;
    const std::vector<std::string>* urls = nullptr;
    // The engine path's folder, refused as a download folder.
    std::string engineFolder;
    // Caption of the refusal boxes (the game title).
    std::string caption;
};

// Creates the current folder (one level, failure ignored), browses, and checks
// the selection; a refusal is shown on box. The new folder, ending in "/", or
// nothing when the folder stays as it is.
std::optional<std::string> ChooseFolder(const FolderChoiceInput& input, IFolderBrowser& browser,
                                        IMessageBox& box);

}  // namespace launcher
