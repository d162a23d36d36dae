#include "platform/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace platform {
namespace {

std::string FromEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? WithTrailingSlash(value) : std::string();
}

std::string PrivateRuntimeDir() {
    const std::string runtime = FromEnv("XDG_RUNTIME_DIR");
    return !runtime.empty() && IsPrivateFolder(runtime) ? runtime : std::string();
}

// A folder made by mkdtemp: removed with its contents at exit, through a
// handle of its parent, so that nothing outside it can be reached.
class MadeFolder {
  public:
    explicit MadeFolder(std::string path) : path_(std::move(path)) {}
    ~MadeFolder() {
        std::string trimmed = path_;
        while (trimmed.size() > 1 && trimmed.back() == '/')
            trimmed.pop_back();
        const size_t slash = trimmed.rfind('/');
        if (slash == std::string::npos)
            return;
        const Directory parent = Directory::Open(trimmed.substr(0, slash + 1));
        parent.RemoveTree(trimmed.substr(slash + 1));
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

std::string MakeTempFolder() {
    std::string base = FromEnv("TMPDIR");
    if (base.empty())
        base = "/tmp/";
    std::string pattern = base + "tvx-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    static MadeFolder made(WithTrailingSlash(pattern));
    return made.Path();
}

}  // namespace

bool IsPrivateFolder(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    struct stat st {};
    return !trimmed.empty() && ::lstat(trimmed.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string PrivateTempFolder() {
    static std::once_flag once;
    static std::string folder;
    std::call_once(once, [] {
        folder = PrivateRuntimeDir();
        if (folder.empty())
            folder = MakeTempFolder();
    });
    return folder;
}

std::string UserRuntimeFolder() {
    std::string folder = PrivateRuntimeDir();
    if (!folder.empty())
        return folder;
    std::string cache = FromEnv("XDG_CACHE_HOME");
    if (cache.empty()) {
        const std::string home = HomeFolder();
        if (home.empty())
            return {};
        cache = home + ".cache/";
    }
    folder = cache + "TVXDownload/";
    if (!MakeDirectoryPath(folder, 0700))
        return {};
    return IsPrivateFolder(folder) ? folder : std::string();
}

}  // namespace platform
