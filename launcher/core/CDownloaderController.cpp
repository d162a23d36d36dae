#include "launcher/core/CDownloaderController.h"

#include <limits>

#include "launcher/core/DiskSpace.h"
#include "launcher/core/DownloadPathStore.h"
#include "launcher/core/DownloaderTexts.h"
#include "launcher/core/FileListText.h"
#include "launcher/core/FolderPlaces.h"
#include "launcher/core/FolderRules.h"
#include "launcher/core/Format.h"
#include "launcher/core/InstallerLaunch.h"
#include "launcher/core/SignedFileList.h"
#include "launcher/core/SkinPackage.h"
#include "library/common/Log.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

namespace launcher {
namespace {

using tarvo::result::kSuccess;

// The pattern with each "%s" replaced by the next value, in order.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string out;
    auto value = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' &&
            value != values.end()) {
            out += *value++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

// The library's 64-bit sizes travel as two halves.
uint32_t Low(int64_t value) {
    return static_cast<uint32_t>(static_cast<uint64_t>(value));
}
int32_t High(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32));
}

constexpr char kZeroTime[] = "00:00:00";

}  // namespace

CDownloaderController::CDownloaderController(IDownloaderView& view, DownloaderConfig config)
    : view_(view), config_(std::move(config)), target_(view), enginePath_(ProgramEnginePath()) {}

CDownloaderController::~CDownloaderController() {
    OnDestroy();
}

MessageAnswer CDownloaderController::Box(std::string_view text, MessageButtons buttons) {
    return view_.MessageBox().Show(config_.gameTitle, text, buttons);
}

void CDownloaderController::PostRefresh() {
    view_.PostToSelf(kRefreshDisplayMessage, 0, 0);
}

void CDownloaderController::FailAndQuit(std::string_view text, bool stop) {
    Box(text);
    if (stop)
        StopDownload();
    view_.PostQuit();
}

void CDownloaderController::OnInitialise() {
    view_.SetHint(Control::HighSpeed, text::kHighSpeedHint);
    if (config_.gameId.empty())
        config_.gameId = "velmora";
    // Nothing can be started before the skin shows the window.
    for (Control c : {Control::Start, Control::Stop, Control::Run, Control::FolderButton})
        view_.EnableControl(c, false);

    if (config_.skinUrl.empty()) {
        Box(text::kSkinUrlMissing);
        view_.PostQuit();
        return;
    }
    // Without the library or the file list nothing further can happen, and
    // the window is still invisible until a skin arrives: the launcher ends
    // after the message rather than staying as a process nobody can reach.
    if (TarvoLib_Initialize(&target_, nullptr, 0) != kSuccess) {
        Box(Fill(text::kInitFailed, {"TarvoLib"}));
        view_.PostQuit();
        return;
    }
    initialised_ = true;
    if (TarvoLib_DownloadData2(config_.fileListUrl.c_str()) != kSuccess) {
        Box(text::kListRequestFailed);
        view_.PostQuit();
        return;
    }
    view_.SetTitle(config_.gameTitle);
    if (config_.downloadMode == "1") {
        view_.SetChecked(Control::HighSpeed, false);
    } else {
        config_.downloadMode = "2";
        view_.SetChecked(Control::HighSpeed, true);
    }
    TarvoLib_SetEngineText(config_.fileListUrl.c_str());
}

void CDownloaderController::HandleMessage(uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    switch (message) {
        case kLibraryMessage:
            OnLibraryEvent(static_cast<int32_t>(wParam), static_cast<JobHandle>(lParam));
            break;
        case kRefreshDisplayMessage:
            view_.Refresh(strings_);
            break;
        case kStartInstallMessage:
            StartInstallThread();
            view_.RunWaitDialog();
            break;
        default:
            break;
    }
}

void CDownloaderController::OnLibraryEvent(int32_t code, JobHandle job) {
    namespace event = tarvo::event;
    const bool jobEvent =
        (code >= event::kJobSize && code <= event::kJobMessage) || code == event::kResumeQuestion;
    if (jobEvent && job == 0)
        return;
    switch (code) {
        case event::kJobSize: {
            JobSizeRecord record{};
            if (TarvoLib_GetJobSize(job, &record) != kSuccess)
                return;
            strings_.remainingTime = kZeroTime;
            progressSeen_ = false;
            PostRefresh();
            break;
        }
        case event::kJobProgress:
            OnProgress(job);
            break;
        case event::kFileCompleted:
            OnFileCompleted(job);
            break;
        case event::kJobCompleted:
            OnJobCompleted(job);
            break;
        case event::kJobMessage:
            OnJobMessage(job);
            break;
        case event::kDataComplete:
            OnData();
            break;
        case event::kDataFailed:
            OnDataFailed();
            break;
        case event::kResumeQuestion:
            OnResumeQuestion();
            break;
        case event::kSizeCheckComplete:
            OnSizeCheckComplete();
            break;
        case event::kSizeCheckFailed:
            Box(text::kSizeCheckFailed);
            view_.PostQuit();
            break;
        default:
            break;
    }
}

void CDownloaderController::OnData() {
    int64_t size = 0;
    TarvoLib_GetDataSize(&size);
    std::vector<char> bytes;
    // A size the library cannot have (negative, beyond memory) counts as no
    // data rather than an allocation that fails.
    if (size > 0 && static_cast<uint64_t>(size) < std::numeric_limits<size_t>::max() / 2) {
        bytes.resize(static_cast<size_t>(size));
        DataBuffer buffer{bytes.data(), size};
        if (TarvoLib_GetData(&buffer) != kSuccess)
            bytes.clear();
    }
    if (listParsed_ && skinApplied_)
        return;
    if (listParsed_)
        OnSkin(bytes.data(), static_cast<int64_t>(bytes.size()));
    else if (awaitingListMetadata_)
        OnListMetadata(std::string_view(bytes.data(), bytes.size()));
    else
        OnListBytes(std::move(bytes));
}

void CDownloaderController::OnListBytes(std::vector<char> bytes) {
    if (config_.publisherKey.empty()) {
        WriteLog("[Launcher] No publisher key built in: the file list and its files are unsigned");
        OnFileList(std::string_view(bytes.data(), bytes.size()));
        return;
    }
    signedList_.assign(bytes.begin(), bytes.end());
    awaitingListMetadata_ = true;
    if (TarvoLib_DownloadData2(ReleaseMetadataUrl(config_.fileListUrl).c_str()) != kSuccess)
        FailAndQuit(text::kListRequestFailed, true);
}

void CDownloaderController::OnListMetadata(std::string_view metadata) {
    awaitingListMetadata_ = false;
    const std::string iniPath =
        config_.releaseVersionPath.empty() ? ReleaseVersionIniPath() : config_.releaseVersionPath;
    const ParsedFileList parsed = ParseFileList(signedList_);
    const FileListCheck check =
        CheckSignedFileList(signedList_, parsed.urls, metadata, config_.publisherKey, iniPath,
                            config_.fileListUrl, platform::Clock().CalendarSeconds());
    if (check.result != ReleaseCheck::kAccepted) {
        WriteLogFormat("[Launcher] File list refused: %s%s%s", ReleaseCheckText(check.result),
                       check.url.empty() ? "" : " : ", check.url.c_str());
        FailAndQuit(text::kListRequestFailed, true);
        return;
    }
    WriteLogFormat("[Launcher] File list accepted: release %llu, %zu signed files",
                   static_cast<unsigned long long>(check.metadata.version),
                   check.metadata.files.size());
    release_ = std::make_unique<ReleaseMetadata>(check.metadata);
    const std::string list = std::move(signedList_);
    signedList_.clear();
    OnFileList(list);
}

void CDownloaderController::SetFileDigests() {
    if (!release_)
        return;
    for (const ReleaseFile& file : release_->files) {
        TarvoLib_SetFileDigest(job_, file.name.c_str(), Sha256Hex(file.sha256).c_str(),
                               Low(file.size), High(file.size));
    }
}

void CDownloaderController::OnDataFailed() {
    if (listParsed_ && skinApplied_)
        return;
    if (awaitingListMetadata_) {
        WriteLog("[Launcher] File list refused: its release metadata could not be fetched");
        FailAndQuit(text::kListRequestFailed, true);
        return;
    }
    FailAndQuit(listParsed_ ? text::kSkinFailed : text::kListFailed, true);
}

void CDownloaderController::OnFileList(std::string_view data) {
    ParsedFileList parsed = ParseFileList(data);
    for (int i = 0; i < parsed.refusedLines; ++i)
        FailAndQuit(text::kBadUrl, true);
    urls_ = std::move(parsed.urls);
    if (urls_.empty()) {
        FailAndQuit(text::kListFailed, true);
        return;
    }
    listParsed_ = true;
    for (const std::string& url : urls_) {
        if (TarvoLib_AddSizeCheckUrl(url.c_str()) != kSuccess)
            FailAndQuit(text::kSizeCheckFailed, false);
    }
    if (TarvoLib_StartSizeCheck() != kSuccess)
        FailAndQuit(text::kSizeCheckFailed, false);
}

void CDownloaderController::OnSizeCheckComplete() {
    int64_t total = 0;
    TarvoLib_GetTotalSize(&total);
    totalSize_ = total;
    strings_.total = SizeText(total);
    if (TarvoLib_DownloadData2(config_.skinUrl.c_str()) != kSuccess)
        FailAndQuit(text::kSkinRequestFailed, false);
}

void CDownloaderController::OnSkin(const void* data, int64_t length) {
    // An empty folder stands for the process's private temporary folder.
    const UnpackedSkin skin = UnpackSkinPackage(data, length, config_.tempFolder, config_.gameId);
    view_.ApplySkin(skin);
    // The agreement panel lies below the visible area: checked, so start is
    // never refused for it.
    view_.SetChecked(Control::Agreement, true);
    view_.ShowControl(Control::Agreement, true);

    strings_.currentFile = CurrentFileText();
    strings_.elapsedTime = kZeroTime;
    strings_.remainingTime = kZeroTime;
    strings_.received = SizeText(0);
    strings_.speed = SpeedText(0);
    strings_.percent = PercentText(0);
    strings_.folder = DefaultDownloadFolderFor(config_.folderName);
    skinApplied_ = true;
    UpdateButtons();
    PostRefresh();
}

void CDownloaderController::OnResumeQuestion() {
    if (progressSeen_) {
        TarvoLib_AnswerResume(job_, 1, 1);
        return;
    }
    const ResumeAnswer answer = view_.RunResumeDialog();
    TarvoLib_AnswerResume(job_, static_cast<uint8_t>(answer.resume != 0),
                          static_cast<uint8_t>(answer.applyToAll != 0));
}

void CDownloaderController::OnProgress(JobHandle job) {
    JobStatus status{};
    if (TarvoLib_GetJobProgress(job, &status) != kSuccess)
        return;
    view_.SetProgress(status.percent);
    strings_.percent = PercentText(status.percent);
    strings_.remainingTime = TimeText(status.remaining);
    strings_.elapsedTime = TimeText(status.elapsed);
    strings_.received = SizeText(status.downloaded);
    strings_.total = SizeText(status.total);
    strings_.speed = SpeedText(static_cast<int64_t>(status.speed));
    PostRefresh();
    if (progressSeen_ || job_ == 0)
        return;
    // Set before the check: a disk-full Cancel clears it again, so that the
    // first progress after the next start checks once more.
    progressSeen_ = true;
    int64_t remaining = 0;
    TarvoLib_GetRemainingSize(job_, &remaining);
    if (DiskCheck(strings_.folder, remaining) != kSuccess)
        HandleJobMessage(tarvo::message::kDiskFull);
}

void CDownloaderController::OnFileCompleted(JobHandle job) {
    if (job_ == 0)
        return;
    CompletedFileRecord record{};
    if (TarvoLib_GetCompletedFile(job, &record) != kSuccess)
        return;
    record.text[sizeof record.text - 1] = '\0';
    ++fileIndex_;
    ++fileNumber_;
    if (static_cast<size_t>(fileIndex_) < urls_.size()) {
        strings_.currentFile = CurrentFileText();
        PostRefresh();
    }
    const std::string path = TextAfterFirstComma(record.text);
    if (jobFiles_.count(path) != 0 && IsInstallerCandidate(path, urls_.size()))
        installerPath_ = path;
}

void CDownloaderController::OnJobCompleted(JobHandle job) {
    JobResultRecord record{};
    if (TarvoLib_GetJobResult(job, &record) != kSuccess)
        return;
    StopDownload();
    finished_ = true;
    strings_.remainingTime = kZeroTime;
    view_.ShowControl(Control::Notice, false);
    view_.SetProgress(100);
    strings_.percent = PercentText(100);
    view_.EnableControl(Control::Run, true);
    for (Control c : {Control::Start, Control::Stop, Control::FolderButton})
        view_.EnableControl(c, false);
    PostRefresh();
    if (Box(text::kCompleteQuestion, MessageButtons::kYesNo) == MessageAnswer::kYes)
        BeginInstall();
}

void CDownloaderController::OnJobMessage(JobHandle job) {
    int32_t length = 0;
    TarvoLib_GetJobMessageLength(job, &length);
    // One byte more than asked for, so the text always ends.
    std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 0, '\0');
    // A message that cannot be fetched keeps the preset code, which no
    // reaction answers.
    JobMessage message{kSuccess, text.empty() ? nullptr : text.data()};
    TarvoLib_GetJobMessage(job, &message);
    HandleJobMessage(message.code);
}

void CDownloaderController::HandleJobMessage(int32_t code) {
    if (job_ == 0)
        return;
    switch (code) {
        case tarvo::message::kDiskFull:
            RunDiskFull();
            break;
        case tarvo::message::kNetworkDown:
            Box(text::kNetworkDown);
            break;
        case tarvo::message::kNetworkBack:
            Box(text::kNetworkBack);
            break;
        case tarvo::message::kDownloadFailed:
            Box(Fill(text::kDownloadFailed, {config_.gameTitle}));
            break;
        default:
            break;
    }
}

void CDownloaderController::RunDiskFull() {
    // A box runs its own message loop: a second disk-full report arriving
    // meanwhile must not open a second loop.
    if (diskPromptActive_)
        return;
    diskPromptActive_ = true;
    int64_t remaining = 0;
    TarvoLib_GetRemainingSize(job_, &remaining);
    StopDownload();
    const std::string question = Fill(text::kDiskFull, {strings_.folder, SizeText(remaining)});
    for (;;) {
        if (Box(question, MessageButtons::kRetryCancel) != MessageAnswer::kRetry) {
            diskPromptActive_ = false;
            progressSeen_ = false;
            return;
        }
        if (DiskCheck(strings_.folder, remaining) == kSuccess) {
            StartDownload();
            diskPromptActive_ = false;
            return;
        }
    }
}

void CDownloaderController::StartDownload() {
    const uint8_t peer = config_.downloadMode == "1" ? 0 : 1;
    if (finished_)
        return;
    if (config_.fileListUrl.empty()) {
        Box(text::kNoProtocol);
        return;
    }
    if (job_ == 0) {
        TarvoLib_SetEngineText(config_.gameId.c_str());
        JobHandle job = 0;
        TarvoLib_CreateJob(&job, nullptr, config_.gameId.c_str());
        job_ = job;
        TarvoLib_SetJobFlag(job_);
        jobFiles_.clear();
        for (const std::string& url : urls_) {
            if (TarvoLib_AddFile(job_, url.c_str(), strings_.folder.c_str(), nullptr, Low(-1),
                                 High(-1), 1) == kSuccess)
                jobFiles_.insert(JobFilePath(strings_.folder, url));
        }
        SetFileDigests();
        TarvoLib_StartJob2(job_, peer);
        strings_.percent = PercentText(0);
        view_.SetProgress(0);
        PostRefresh();
        RememberFolder(config_.folderName, strings_.folder);
    }
    UpdateButtons();
}

void CDownloaderController::StopDownload() {
    if (finished_)
        return;
    if (job_ != 0) {
        TarvoLib_StopJob2(job_, config_.downloadMode == "1" ? 0 : 1);
        TarvoLib_RemoveJob(job_);
        job_ = 0;
        fileIndex_ = 0;
        fileNumber_ = 1;
    }
    view_.EnableControl(Control::Stop, false);
    view_.EnableControl(Control::Start, true);
    strings_.speed = SpeedText(0);
    UpdateButtons();
    PostRefresh();
}

void CDownloaderController::UpdateButtons() {
    view_.EnableControl(Control::Run, false);
    view_.EnableControl(Control::Start, job_ == 0);
    view_.EnableControl(Control::Stop, job_ != 0);
    view_.EnableControl(Control::FolderButton, job_ == 0);
}

void CDownloaderController::OnCommand(Control control) {
    switch (control) {
        case Control::Start:
            if (view_.IsChecked(Control::Agreement)) {
                view_.EnableControl(Control::Agreement, false);
                StartDownload();
            } else {
                Box(text::kAgreementNeeded);
            }
            break;
        case Control::Stop:
            OnStopButton();
            break;
        case Control::Run:
            BeginInstall();
            break;
        case Control::Close:
            CloseWithQuestion(true);
            break;
        case Control::HighSpeed:
            OnHighSpeedBox();
            break;
        case Control::FolderButton:
            OnFolderButton();
            break;
        default:
            break;
    }
}

void CDownloaderController::OnCloseRequest() {
    CloseWithQuestion(false);
}

void CDownloaderController::OnStopButton() {
    if (job_ == 0)
        return;
    if (Box(text::kStopQuestion, MessageButtons::kYesNo) != MessageAnswer::kYes)
        return;
    progressSeen_ = false;
    StopDownload();
}

void CDownloaderController::OnHighSpeedBox() {
    if (view_.IsChecked(Control::HighSpeed)) {
        config_.downloadMode = "2";
        view_.SetChecked(Control::HighSpeed, true);
        return;
    }
    if (Box(text::kHighSpeedQuestion, MessageButtons::kYesNo) == MessageAnswer::kYes) {
        config_.downloadMode = "1";
    } else {
        config_.downloadMode = "2";
        view_.SetChecked(Control::HighSpeed, true);
    }
}

void CDownloaderController::OnFolderButton() {
    if (job_ != 0 || finished_)
        return;
    FolderChoiceInput input;
    input.currentFolder = strings_.folder;
    input.totalSize = totalSize_;
    input.urls = &urls_;
    input.engineFolder = FolderOfPath(enginePath_);
    input.caption = config_.gameTitle;
    const std::optional<std::string> chosen =
        ChooseFolder(input, view_.FolderBrowser(), view_.MessageBox());
    if (!chosen)
        return;
    strings_.folder = *chosen;
    view_.Refresh(strings_);
}

void CDownloaderController::BeginInstall() {
    if (!finished_) {
        Box(text::kNotComplete);
        return;
    }
    if (installing_)
        return;
    installing_ = true;
    view_.EnableControl(Control::Run, false);
    view_.PlaceNoticeForInstall();
    strings_.notice = text::kInstallNotice;
    view_.ShowControl(Control::Notice, true);
    view_.Refresh(strings_);
    view_.PostToSelf(kStartInstallMessage, 0, 0);
}

void CDownloaderController::StartInstallThread() {
    if (!installer_) {
        // The thread reads only its own copies; the view's box and quit
        // request are thread-safe.
        installer_ = std::make_unique<std::thread>(
            [path = installerPath_, caption = config_.gameTitle, &view = view_] {
                LaunchInstaller(path, caption, view.MessageBox());
                view.PostQuit();
            });
    }
}

void CDownloaderController::CloseWithQuestion(bool checkInstalling) {
    if (checkInstalling && installing_) {
        Box(text::kInstalling);
        return;
    }
    if (job_ != 0) {
        if (Box(Fill(text::kCloseQuestion, {config_.gameTitle}), MessageButtons::kYesNo) !=
            MessageAnswer::kYes)
            return;
        StopDownload();
    }
    view_.CloseWindow();
}

void CDownloaderController::OnDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    // The window is going away: end the job without touching the view.
    if (job_ != 0 && !finished_) {
        TarvoLib_StopJob2(job_, config_.downloadMode == "1" ? 0 : 1);
        TarvoLib_RemoveJob(job_);
        job_ = 0;
    }
    if (installer_) {
        installer_->join();
        installer_.reset();
    }
    if (initialised_) {
        TarvoLib_Finalize();
        initialised_ = false;
    }
}

std::string CDownloaderController::CurrentFileText() const {
    const size_t index = static_cast<size_t>(fileIndex_);
    const std::string name = index < urls_.size() ? FileNameOfUrl(urls_[index]) : std::string();
    return PositionText(fileNumber_, static_cast<int>(urls_.size()), name);
}

}  // namespace launcher
