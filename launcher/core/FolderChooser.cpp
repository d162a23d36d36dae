#include "launcher/core/FolderChooser.h"

#include "launcher/core/FolderPlaces.h"
#include "launcher/core/FolderRules.h"
#include "launcher/core/Format.h"
#include "platform/FileSystem.h"

namespace launcher {

std::string ChooserTitle(int64_t totalSize) {
    return "최소 " + SizeText(totalSize) + "의 용량이 필요합니다.\n";
}

std::string ChooserStatus(int64_t totalSize, int64_t freeBytes) {
    return ChooserTitle(totalSize) + "남은용량 : " + SizeText(freeBytes);
}

std::optional<std::string> ChooseFolder(const FolderChoiceInput& input, IFolderBrowser& browser,
                                        IMessageBox& box) {
    if (!input.currentFolder.empty() && !platform::IsDirectory(input.currentFolder))
        platform::MakeDirectory(input.currentFolder);

    std::optional<std::string> chosen = browser.Browse(input.currentFolder, input.totalSize);
    if (!chosen)
        return std::nullopt;
    std::string folder = WithSlash(std::move(*chosen));

    static const std::vector<std::string> kNoUrls;
    const std::vector<std::string>& urls = input.urls ? *input.urls : kNoUrls;
    FolderVerdict verdict = CheckChosenFolder(folder, urls, input.engineFolder);
    if (verdict == FolderVerdict::kAccepted) {
        // A link to a system folder would put the files there all the same.
        const std::string resolved = ResolvedFolder(folder);
        if (!resolved.empty() && resolved != folder &&
            IsForbiddenFolder(resolved, ResolvedFolder(input.engineFolder)))
            verdict = FolderVerdict::kForbidden;
    }
    if (verdict != FolderVerdict::kAccepted) {
        box.Show(input.caption, VerdictText(verdict), MessageButtons::kOk);
        return std::nullopt;
    }
    return folder;
}

}  // namespace launcher
