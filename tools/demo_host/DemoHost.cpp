#include "DemoHost.h"

#include <unistd.h>

#include <chrono>

#include "FileList.h"
#include "launcher/core/Format.h"
#include "tvx/BuiltinConfig.h"

namespace {

namespace event = tarvo::event;
namespace result = tarvo::result;

// The queue's wait needs a bound; an idle minute simply waits again. Stop
// requests arrive through the same queue, so none waits for the bound.
constexpr uint32_t kTakeTimeoutMs = 60'000;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

uint32_t Low(int64_t size) {
    return static_cast<uint32_t>(static_cast<uint64_t>(size) & 0xFFFFFFFFu);
}

int32_t High(int64_t size) {
    return static_cast<int32_t>(size >> 32);
}

std::string Code(ResultCode code) {
    return std::to_string(code);
}

const char* MessageMeaning(int32_t code) {
    switch (code) {
        case tarvo::message::kDiskFull:
            return "not enough disk space";
        case tarvo::message::kNetworkDown:
            return "고객님 PC의 네트워크 상태가 좋지 않습니다. (network trouble)";
        case tarvo::message::kNetworkBack:
            return "고객님 PC의 네트워크가 복구 되었습니다. (network back)";
        case tarvo::message::kDownloadFailed:
            return "download failed";
        case tarvo::message::kEngineGaveUp:
            return "the engine gave the job up";
        default:
            return "job message";
    }
}

}  // namespace

DemoHost::DemoHost(DemoHostOptions options, std::FILE* out, std::FILE* err)
    : options_(std::move(options)), out_(out), err_(err) {
    outIsTerminal_ = ::isatty(::fileno(out_)) == 1;
}

DemoHost::~DemoHost() {
    if (initialised_) {
        StopJob();
        TarvoLib_Finalize();
    }
}

void DemoHost::RequestStop(int signal) {
    queue_.Post(kStopMessage, static_cast<uintptr_t>(signal), 0);
}

int DemoHost::Run() {
    if (!Start())
        return exitCode_;
    platform::PostedMessage message;
    while (!done_) {
        if (!queue_.Take(message, kTakeTimeoutMs))
            continue;
        if (message.message == kStopMessage) {
            EndProgressLine();
            std::fprintf(err_, "tvx-demo-host: stopped by signal %d\n",
                         static_cast<int>(message.wParam));
            Finish(demo_exit::kSignalBase + static_cast<int>(message.wParam));
        } else if (message.message == tarvo::kLibraryMessage) {
            OnEvent(static_cast<int32_t>(message.wParam), message.lParam);
        }
    }
    return exitCode_;
}

bool DemoHost::Start() {
    const ResultCode init = TarvoLib_Initialize(&queue_, nullptr, 0);
    if (init != result::kSuccess) {
        // A failed initialisation still leaves the library to be finalised.
        initialised_ = init != result::kAlreadyInitialised;
        Fail(std::string(tvx::config::kGameTitle) + " 초기화 실패. (TarvoLib_Initialize answered " +
             Code(init) + ")");
        return false;
    }
    initialised_ = true;
    Info("file list " + options_.listUrl);
    const ResultCode data = TarvoLib_DownloadData2(options_.listUrl.c_str());
    if (data != result::kSuccess) {
        Fail("파일목록 다운로드 실패 (TarvoLib_DownloadData2 answered " + Code(data) + ")");
        return false;
    }
    TarvoLib_SetEngineText(options_.listUrl.c_str());
    return true;
}

void DemoHost::OnEvent(int32_t code, uintptr_t handle) {
    // Job events name their job; those of another (or no) job are not ours.
    const bool jobEvent =
        (code >= event::kJobSize && code <= event::kJobMessage) || code == event::kResumeQuestion;
    if (jobEvent && (job_ == 0 || handle != job_))
        return;
    switch (code) {
        case event::kDataComplete:
            if (!listParsed_)
                OnFileList();
            break;
        case event::kDataFailed:
            if (!listParsed_)
                Fail("파일 리스트 다운로드에 실패하였습니다. (cannot download " + options_.listUrl +
                     ")");
            break;
        case event::kSizeCheckComplete:
            OnTotalSize();
            break;
        case event::kSizeCheckFailed:
            Fail("파일크기 확인 실패 (the size check failed)");
            break;
        case event::kJobSize:
            OnJobSize();
            break;
        case event::kJobProgress:
            OnProgress();
            break;
        case event::kFileCompleted:
            OnFileCompleted();
            break;
        case event::kJobCompleted:
            OnJobCompleted();
            break;
        case event::kJobMessage:
            OnJobMessage();
            break;
        case event::kResumeQuestion:
            // A terminal host has nobody to ask: resume, as the launcher does
            // once the download is under way.
            TarvoLib_AnswerResume(job_, 1, 1);
            break;
        case event::kEngineFailed:
            Info("the local engine is not available; downloading directly");
            break;
        case event::kDownloadPathFailed:
            Fail("the download folder " + options_.dest + " cannot be created");
            break;
        default:
            break;
    }
}

void DemoHost::OnFileList() {
    int64_t size = 0;
    TarvoLib_GetDataSize(&size);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        DataBuffer buffer{bytes.data(), size};
        if (TarvoLib_GetData(&buffer) != result::kSuccess) {
            Fail("파일 리스트 다운로드에 실패하였습니다. (the fetched list cannot be read)");
            return;
        }
    }
    FileList list = SplitFileList(bytes);
    if (list.longLine != 0) {
        Fail("잘못된 URL이 입력 되었습니다. (line " + std::to_string(list.longLine) +
             " of the file list is " + std::to_string(kMaxLineLength) + " bytes or longer)");
        return;
    }
    if (list.urls.empty()) {
        Fail("파일 리스트 다운로드에 실패하였습니다. (the file list holds no URL)");
        return;
    }
    listParsed_ = true;
    urls_ = std::move(list.urls);
    Info("file list: " + std::to_string(urls_.size()) + " files");
    for (const std::string& url : urls_) {
        Info("  " + url);
        const ResultCode added = TarvoLib_AddSizeCheckUrl(url.c_str());
        if (added != result::kSuccess) {
            Fail("파일크기 확인 실패 (TarvoLib_AddSizeCheckUrl answered " + Code(added) + " for " +
                 url + ")");
            return;
        }
    }
    const ResultCode started = TarvoLib_StartSizeCheck();
    if (started != result::kSuccess)
        Fail("파일크기 확인 실패 (TarvoLib_StartSizeCheck answered " + Code(started) + ")");
}

void DemoHost::OnTotalSize() {
    int64_t total = 0;
    TarvoLib_GetTotalSize(&total);
    total_ = total;
    Info("total size: " + launcher::SizeText(total));
    if (TarvoLib_CheckDiskSpace(options_.dest.c_str(), Low(total), High(total)) !=
        result::kSuccess) {
        Fail("해당 디스크(" + options_.dest + ")의 공간이 부족(" + launcher::SizeText(total) +
             ") 합니다. (not enough free space)");
        return;
    }
    if (StartJob(total))
        startedAt_ = NowMs();
}

bool DemoHost::StartJob(int64_t total) {
    TarvoLib_SetEngineText(tvx::config::kGameId);
    ResultCode code = TarvoLib_CreateJob(&job_, nullptr, tvx::config::kGameId);
    if (code != result::kSuccess) {
        Fail("TarvoLib_CreateJob answered " + Code(code));
        return false;
    }
    TarvoLib_SetJobFlag(job_);
    // The size of each file is left unknown (-1): the library measures it.
    for (const std::string& url : urls_) {
        code = TarvoLib_AddFile(job_, url.c_str(), options_.dest.c_str(), nullptr, Low(-1),
                                High(-1), 1);
        if (code == result::kMissingFolder) {
            Fail("the download folder " + options_.dest +
                 " cannot be created (TarvoLib_AddFile answered " + Code(code) + ")");
            return false;
        }
        if (code != result::kSuccess) {
            Fail("TarvoLib_AddFile answered " + Code(code) + " for " + url);
            return false;
        }
    }
    code = TarvoLib_StartJob2(job_, options_.mode);
    if (code != result::kSuccess) {
        Fail("TarvoLib_StartJob2 answered " + Code(code));
        return false;
    }
    Info("downloading " + std::to_string(urls_.size()) + " files (" + launcher::SizeText(total) +
         ") into " + options_.dest);
    return true;
}

void DemoHost::OnJobSize() {
    JobSizeRecord record{};
    TarvoLib_GetJobSize(job_, &record);
    if (record.total > 0)
        total_ = record.total;
    diskChecked_ = false;
}

void DemoHost::OnProgress() {
    JobStatus status{};
    if (TarvoLib_GetJobProgress(job_, &status) != result::kSuccess)
        return;
    received_ = status.downloaded;
    if (!options_.quiet) {
        const std::string line = launcher::PercentText(status.percent) + "  " +
                                 launcher::SizeText(status.downloaded) + " / " +
                                 launcher::SizeText(status.total) + "  " +
                                 launcher::SpeedText(static_cast<int64_t>(status.speed)) +
                                 "  elapsed " + launcher::TimeText(status.elapsed) +
                                 "  remaining " + launcher::TimeText(status.remaining) + "  " +
                                 launcher::PositionText(status.filesCompleted + 1 > status.fileCount
                                                            ? status.fileCount
                                                            : status.filesCompleted + 1,
                                                        status.fileCount, status.currentName);
        if (outIsTerminal_) {
            std::fprintf(out_, "\r%s\033[K", line.c_str());
            progressLineOpen_ = true;
        } else {
            std::fprintf(out_, "progress %s\n", line.c_str());
        }
        std::fflush(out_);
    }
    // The folder's free space is checked once against what is still to come,
    // after the first progress of the job (and again after a new size).
    if (!diskChecked_) {
        diskChecked_ = true;
        int64_t remaining = 0;
        if (TarvoLib_GetRemainingSize(job_, &remaining) == result::kSuccess &&
            TarvoLib_CheckDiskSpace(options_.dest.c_str(), Low(remaining), High(remaining)) !=
                result::kSuccess) {
            Fail("해당 디스크(" + options_.dest + ")의 공간이 부족(" +
                 launcher::SizeText(remaining) + ") 합니다. (not enough free space)");
        }
    }
}

void DemoHost::OnFileCompleted() {
    CompletedFileRecord record{};
    TarvoLib_GetCompletedFile(job_, &record);
    record.text[sizeof record.text - 1] = '\0';
    if (record.sequence == 0)
        return;
    ++completedFiles_;
    if (options_.quiet)
        return;
    EndProgressLine();
    std::fprintf(out_, "done %s %s\n",
                 launcher::PositionText(record.sequence, record.fileCount, "").c_str(),
                 launcher::TextAfterFirstComma(record.text).c_str());
    std::fflush(out_);
}

void DemoHost::OnJobCompleted() {
    JobResultRecord record{};
    TarvoLib_GetJobResult(job_, &record);
    JobStatus status{};
    if (TarvoLib_GetJobProgress(job_, &status) == result::kSuccess && status.downloaded > 0)
        received_ = status.downloaded;
    EndProgressLine();
    const double seconds = static_cast<double>(NowMs() - startedAt_) / 1000.0;
    std::fprintf(out_, "complete: %d files, %s in %.1f s\n", completedFiles_,
                 launcher::SizeText(received_ > 0 ? received_ : total_).c_str(), seconds);
    std::fflush(out_);
    Finish(demo_exit::kComplete);
}

void DemoHost::OnJobMessage() {
    int32_t length = 0;
    TarvoLib_GetJobMessageLength(job_, &length);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    JobMessage message{result::kSuccess, length > 0 ? text.data() : nullptr};
    TarvoLib_GetJobMessage(job_, &message);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    const std::string line = "job message " + std::to_string(message.code) + " " +
                             MessageMeaning(message.code) + (text.empty() ? "" : ": " + text);
    switch (message.code) {
        case tarvo::message::kDiskFull:
            Fail(line);
            break;
        case tarvo::message::kDownloadFailed:
            // The library keeps the job waiting for the user; a terminal host
            // ends it rather than wait for nobody.
            Fail(std::string(tvx::config::kGameTitle) +
                 " 다운로드를 실패 했습니다. 잠시 후에 다시 시도해 주십시요. (" + line + ")");
            break;
        case result::kSuccess:  // nothing was pending
            break;
        default:
            EndProgressLine();
            std::fprintf(out_, "%s\n", line.c_str());
            std::fflush(out_);
            break;
    }
}

void DemoHost::StopJob() {
    if (job_ == 0)
        return;
    TarvoLib_StopJob2(job_, options_.mode);
    TarvoLib_RemoveJob(job_);
    job_ = 0;
}

void DemoHost::Finish(int exitCode) {
    StopJob();
    if (initialised_) {
        TarvoLib_Finalize();
        initialised_ = false;
    }
    exitCode_ = exitCode;
    done_ = true;
}

void DemoHost::Fail(const std::string& text) {
    EndProgressLine();
    std::fprintf(err_, "tvx-demo-host: %s\n", text.c_str());
    std::fflush(err_);
    Finish(demo_exit::kFailed);
}

void DemoHost::Info(const std::string& text) {
    if (options_.quiet)
        return;
    EndProgressLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void DemoHost::EndProgressLine() {
    if (!progressLineOpen_)
        return;
    std::fputc('\n', out_);
    progressLineOpen_ = false;
}
