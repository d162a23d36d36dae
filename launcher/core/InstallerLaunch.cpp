#include "launcher/core/InstallerLaunch.h"

#include "platform/FileSystem.h"

namespace launcher {

InstallerKind ClassifyInstaller(std::string_view head) {
    if (head.size() >= 4 && head.substr(0, 4) == std::string_view("\x7f"
                                                                  "ELF",
                                                                  4))
        return InstallerKind::kElf;
    if (head.size() >= 2 && head.substr(0, 2) == "#!")
        return InstallerKind::kScript;
    return InstallerKind::kOther;
}

InstallerKind ClassifyInstallerFile(const std::string& path) {
    return ClassifyInstaller(platform::ReadFileHead(path, 4));
}

std::string MissingInstallerText(std::string_view path) {
    std::string text = "해당 경로(";
    text += path.empty() ? std::string_view("NULL") : path;
    text += ")에 파일이 존재 하지 않습니다.";
    return text;
}

bool LaunchInstaller(const std::string& path, std::string_view caption, IMessageBox& box,
                     platform::ProcessId* spawned) {
    if (spawned)
        *spawned = -1;
    // A folder is no installer either (it would only open a file manager),
    // and neither is a link, which may lead anywhere.
    if (path.empty() || platform::RegularFileSize(path) < 0) {
        box.Show(caption, MissingInstallerText(path), MessageButtons::kOk);
        return false;
    }
    switch (ClassifyInstallerFile(path)) {
        case InstallerKind::kElf:
        case InstallerKind::kScript: {
            const platform::ProcessId pid = platform::StartProgram(path);
            if (spawned)
                *spawned = pid;
            return pid > 0;
        }
        case InstallerKind::kOther:
            break;
    }
    return platform::OpenWithDesktop(path);
}

}  // namespace launcher
