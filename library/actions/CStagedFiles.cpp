#include "library/actions/CStagedFiles.h"

#include <cstdio>

#include "library/common/DirectoryPath.h"
#include "util/Zip.h"

namespace {
constexpr const char* kStagedSuffix = ".tvx-part";
}

CStagedFiles::CStagedFiles(std::string folder) : folder_(NormaliseFolder(std::move(folder))) {}

CStagedFiles::~CStagedFiles() {
    for (const Entry& entry : entries_)
        std::remove(entry.staged.c_str());
}

std::string CStagedFiles::Stage(const std::string& name) {
    std::string relative = name;
    for (char& c : relative) {
        if (c == '\\')
            c = '/';
    }
    if (relative.empty() || relative.back() == '/' || !ZipIsSafeEntryName(relative))
        return {};
    const std::string final = folder_ + relative;
    if (!EnsureDirectoryPath(final))
        return {};
    for (const Entry& entry : entries_) {
        if (entry.final == final)
            return entry.staged;  // the same name again: the later entry wins
    }
    entries_.push_back({final + kStagedSuffix, final});
    return entries_.back().staged;
}

bool CStagedFiles::Commit() {
    bool ok = true;
    for (const Entry& entry : entries_) {
        if (ok && std::rename(entry.staged.c_str(), entry.final.c_str()) != 0)
            ok = false;
    }
    if (ok)
        entries_.clear();
    return ok;
}
