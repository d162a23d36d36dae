#include "library/common/DirectoryPath.h"

#include "platform/FileSystem.h"

bool EnsureDirectoryPath(const std::string& path) {
    if (path.empty())
        return false;
    if (platform::PathExists(path))
        return true;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash + 1);
        if (!platform::IsDirectory(prefix) && !platform::MakeDirectory(prefix))
            return false;
    }
    return true;
}

std::string NormaliseFolder(std::string folder) {
    for (char& c : folder) {
        if (c == '\\')
            c = '/';
    }
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}
