#include "library/update/CDownloadFileList.h"

#include <algorithm>

#include "library/actions/UnpackArchive.h"
#include "library/common/DirectoryPath.h"
#include "library/common/Log.h"
#include "library/common/PublisherKey.h"
#include "library/update/BuildUpdateList.h"
#include "library/update/EngineFileRecord.h"
#include "library/update/ReadFileVersion.h"
#include "library/update/UpdateResult.h"
#include "library/update/VersionOrder.h"
#include "platform/Clock.h"
#include "util/MD4.h"
#include "util/XMLParserVelmora.h"

namespace {

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

CDownloadFileList::CDownloadFileList(const IGetPath& paths) : paths_(paths) {}

CDownloadFileList::~CDownloadFileList() = default;

int CDownloadFileList::AddUpdateFile(const std::string& archiveUrl, const std::string& hashUrl,
                                     const std::string& name, const std::string& folder) {
    if (archiveUrl.empty() || FindUpdateFile(archiveUrl))
        return 0;
    if (hashUrl.empty() && name.empty() && folder.empty() && !PublisherKey().empty()) {
        files_.push_back(std::make_unique<CDownloadFile>(this, archiveUrl,
                                                         ReleaseMetadataUrl(archiveUrl), "", "",
                                                         true));
        return 1;
    }
    files_.push_back(std::make_unique<CDownloadFile>(this, archiveUrl, hashUrl, name, folder));
    return 1;
}

CDownloadFile* CDownloadFileList::FindUpdateFile(const std::string& url) const {
    for (const auto& file : files_) {
        if (file->RequestUrl() == url)
            return file.get();
    }
    return nullptr;
}

CDownloadFile* CDownloadFileList::NextUpdateFile() {
    for (const auto& file : files_) {
        if (file->busy)
            continue;
        if (!file->unlimitedAttempts && --file->attemptsLeft < 0)
            continue;
        file->busy = true;
        return file.get();
    }
    return nullptr;
}

void CDownloadFileList::SetUnlimitedAttempts(bool unlimited) {
    for (const auto& file : files_)
        file->unlimitedAttempts = unlimited;
}

void CDownloadFileList::FinishUpdateFile(const std::string& url, bool success) {
    if (url.empty())
        return;
    const auto it = std::find_if(files_.begin(), files_.end(),
                                 [&](const auto& file) { return file->RequestUrl() == url; });
    if (it == files_.end())
        return;
    CDownloadFile& file = **it;
    file.busy = false;
    // A failed hash file leaves the file as it was: the next attempt asks for
    // the hash file again, since an archive is never taken without its check.
    if (success || file.attemptsLeft <= 0)
        files_.erase(it);
}

int32_t CDownloadFileList::OnManifest(CDownloadFile* file, const uint8_t* data, int64_t size) {
    if (!data || size <= 0)
        return kUpdateNoData;
    const std::string& key = PublisherKey();
    if (!key.empty()) {
        const HashBuffer* metadata = file ? file->Hash() : nullptr;
        release_ = std::make_unique<ReleaseMetadata>();
        const ReleaseCheck check = VerifyReleaseMetadata(
            metadata && metadata->stored
                ? std::string_view(reinterpret_cast<const char*>(metadata->bytes.data()),
                                   metadata->bytes.size())
                : std::string_view(),
            key, ReleaseKind::kEngineUpdate,
            std::string_view(reinterpret_cast<const char*>(data), static_cast<size_t>(size)),
            platform::Clock().CalendarSeconds(), *release_);
        if (check != ReleaseCheck::kAccepted) {
            release_.reset();
            refused_ = true;
            WriteLogFormat("[TarvoLib] Update Manifest Refused : %s", ReleaseCheckText(check));
            return kUpdateBadManifest;
        }
        refused_ = false;
    }
    CXMLParserVelmora parser;
    parser.ParseDocument(
        std::string_view(reinterpret_cast<const char*>(data), static_cast<size_t>(size)));
    std::string engineFolderPath;
    paths_.GetEngineFolder(engineFolderPath);
    if (!EnsureDirectoryPath(engineFolderPath))
        return kUpdateNoEngineFolder;

    std::string enginePath;
    paths_.GetEnginePath(enginePath);
    std::string engineFolder, engineName;
    SplitPath(enginePath, engineFolder, engineName);

    const CXMLElement* root = parser.GetRoot();
    const CXMLElement* fileList = parser.FindChild(root, "file");
    char version[CXMLParserVelmora::kVersionBufferSize];
    parser.GetAttributeValue(parser.FindChild(fileList, engineName.c_str()), "ver", version,
                             sizeof version);
    if (version[0] == '\0')
        return kUpdateBadManifest;
    newVersion_ = version;

    std::vector<std::string> update = BuildUpdateList(enginePath, newVersion_);
    if (release_) {
        const std::string installed = ReadFileVersion(enginePath);
        if (!installed.empty() && CompareVersions(newVersion_, installed) < 0) {
            // A signed but older release is a rollback: the installed engine stays.
            WriteLogFormat("[TarvoLib] Update Refused, Older Than Installed : %s < %s",
                           newVersion_.c_str(), installed.c_str());
            return kUpdateHandled;
        }
        if (update.empty() && !EngineFileMatchesRecord(enginePath)) {
            WriteLog("[TarvoLib] Engine File Changed Since Its Install: Installing Again");
            update.push_back(enginePath);
        }
    }
    char url[CXMLParserVelmora::kValueBufferSize];
    char hash[CXMLParserVelmora::kValueBufferSize];
    // An archive is only taken with the hash list it is checked against.
    auto readEntry = [&](const CXMLElement* entry) {
        parser.GetAttributeValue(entry, "url", url, sizeof url);
        parser.GetAttributeValue(entry, "hash", hash, sizeof hash);
        return url[0] != '\0' && hash[0] != '\0';
    };
    if (!update.empty() && static_cast<int>(update.size()) == parser.GetChildCount(fileList)) {
        if (!readEntry(parser.FindChild(parser.FindChild(root, "all"), "all")))
            return kUpdateBadManifest;
        AddUpdateFile(url, hash, engineName, engineFolder);
        return kUpdateHandled;
    }
    for (const std::string& path : update) {
        std::string folder, name;
        SplitPath(path, folder, name);
        if (!readEntry(parser.FindChild(fileList, name.c_str())))
            return kUpdateBadManifest;
        AddUpdateFile(url, hash, name, folder);
    }
    return kUpdateHandled;
}

int32_t CDownloadFileList::OnFileData(CDownloadFile* file, const HashBuffer* hash,
                                      const uint8_t* data, int64_t size) {
    if (!data || size <= 0 || !file)
        return kUpdateNoData;
    // Without a hash list that arrived and matches, the archive is not
    // touched: it carries a program that is about to be run.
    if (!hash || !hash->stored ||
        !VerifyHashList(hash->bytes.data(), static_cast<int64_t>(hash->bytes.size()), data, size))
        return kUpdateHashMismatch;
    if (!PublisherKey().empty()) {
        // The MD4 list comes from the same server as the archive; only the
        // signed metadata says what the publisher released.
        const ReleaseFile* entry = release_ ? release_->Find(file->ArchiveUrl()) : nullptr;
        if (!entry || entry->size != size ||
            entry->sha256 != CSha256::Of(std::string_view(reinterpret_cast<const char*>(data),
                                                          static_cast<size_t>(size)))) {
            refused_ = true;
            WriteLogFormat("[TarvoLib] Update Archive Refused : %s", file->ArchiveUrl().c_str());
            return kUpdateHashMismatch;
        }
    }
    const int32_t unpacked =
        UnpackArchive(GetArchiveType(file->ArchiveUrl()), data, size, file->Folder());
    if (!PublisherKey().empty() && unpacked == kUpdateHandled) {
        std::string enginePath;
        paths_.GetEnginePath(enginePath);
        RecordEngineFile(enginePath);
    }
    return unpacked;
}
