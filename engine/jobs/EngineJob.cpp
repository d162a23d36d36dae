#include "engine/jobs/EngineJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/link/EngineMessages.h"
#include "platform/FileSystem.h"

namespace engine::jobs {
namespace {

// Files per job that download at the same time at full speed; a throttled job
// (mode 1) takes one file at a time at the direct path's slow rate.
constexpr std::size_t kParallelFiles = 4;
constexpr uint64_t kSlowBytesPerSecond = 393216;

// The direct path's rule: a name that cannot reach outside the job's folder.
bool IsSafeFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

// An absolute folder without "." or ".." steps.
bool IsPlainAbsoluteFolder(const std::string& folder) {
    if (folder.empty() || folder[0] != '/')
        return false;
    std::size_t start = 1;
    while (start <= folder.size()) {
        const std::size_t end = folder.find('/', start);
        const std::string step =
            folder.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (step == "." || step == "..")
            return false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return true;
}

std::vector<std::string> SplitMirrors(const std::string& urls) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= urls.size()) {
        const std::size_t bar = urls.find('|', start);
        std::string piece = urls.substr(start, bar == std::string::npos ? bar : bar - start);
        if (!piece.empty())
            out.push_back(std::move(piece));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return out;
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/')
        folder.push_back('/');
    return folder;
}

bool MakeFolders(const std::string& folder) {
    for (std::size_t i = 1; i <= folder.size(); ++i) {
        if (i != folder.size() && folder[i] != '/')
            continue;
        const std::string prefix = folder.substr(0, i);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(folder.c_str(), W_OK) == 0;
}

int64_t SizeOnDisk(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return st.st_size;
}

}  // namespace

EngineJob::EngineJob(IJobHost& host, ITransferBackend& backend, JobOrder order, uint32_t engineKey,
                     uint64_t clientId)
    : host_(host),
      backend_(backend),
      order_(std::move(order)),
      key_(engineKey),
      clientId_(clientId) {}

EngineJob::~EngineJob() = default;

std::string EngineJob::CheckOrder() const {
    if (order_.files.empty())
        return "job without files";
    for (const JobOrderFile& f : order_.files) {
        if (!IsSafeFileName(f.name))
            return "unsafe file name: " + f.name;
        if (!IsPlainAbsoluteFolder(f.folder))
            return "unusable folder: " + f.folder;
        if (SplitMirrors(f.urls).empty())
            return "file without URL: " + f.name;
    }
    return {};
}

void EngineJob::Start() {
    started_ = std::chrono::steady_clock::now();
    const std::string problem = CheckOrder();
    if (!problem.empty()) {
        host_.Log("job " + std::to_string(order_.serial) + " refused: " + problem);
        host_.SendToClient(*this, link::BuildJobError(order_.serial, problem));
        return End();
    }
    files_.resize(order_.files.size());
    for (std::size_t i = 0; i < files_.size(); ++i) {
        File& f = files_[i];
        f.order = order_.files[i];
        f.mirrors = SplitMirrors(f.order.urls);
        f.path = WithSlash(f.order.folder) + f.order.name;
    }
    host_.Log("job " + std::to_string(order_.serial) + " (" + order_.name +
              "): " + std::to_string(files_.size()) + " files");
    for (std::size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].order.size >= 0)
            continue;
        ++sizesPending_;
        files_[i].transfer =
            backend_.StartSizeProbe(static_cast<uint32_t>(i), files_[i].mirrors, *this);
        if (!files_[i].transfer)
            return Fail(JobResult::SizeUnknown, "size probe of " + files_[i].order.name);
    }
    if (sizesPending_ == 0)
        Accept();
}

void EngineJob::OnSizeFound(uint32_t id, bool ok, int64_t size) {
    File& f = files_.at(id);
    f.transfer.reset();
    if (!ok)
        return Fail(JobResult::SizeUnknown, "no size for " + f.order.name);
    // A server that does not tell the length leaves the size unknown; the
    // file is still carried, it just does not count in the total.
    f.order.size = size;
    if (--sizesPending_ == 0)
        Accept();
}

void EngineJob::Accept() {
    accepted_ = true;
    host_.SendToClient(
        *this, link::BuildJobAccepted(order_.serial, key_, static_cast<uint32_t>(files_.size()),
                                      TotalBytes()));
    bool anyPartial = false;
    for (File& f : files_) {
        f.onDisk = SizeOnDisk(f.path);
        f.partial = f.onDisk > 0 && (f.order.size < 0 || f.onDisk <= f.order.size);
        anyPartial = anyPartial || f.partial;
    }
    if (anyPartial) {
        state_ = State::AwaitingAnswer;
        host_.Log("job " + std::to_string(order_.serial) + ": partial files, asking");
        host_.SendToClient(*this, link::BuildResumeQuestion(order_.serial));
        return;
    }
    Begin();
}

void EngineJob::Answer(bool resume) {
    if (state_ != State::AwaitingAnswer)
        return;
    host_.Log("job " + std::to_string(order_.serial) + (resume ? ": resume" : ": start over"));
    if (!resume) {
        for (File& f : files_) {
            if (!f.partial)
                continue;
            const int fd = ::open(f.path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0)
                return Fail(JobResult::WriteFailed, "cannot start " + f.path + " over");
            ::close(fd);
            f.onDisk = 0;
        }
    }
    Begin();
}

void EngineJob::Begin() {
    for (const File& f : files_)
        if (!MakeFolders(WithSlash(f.order.folder)))
            return Fail(JobResult::FolderFailed, "folder " + f.order.folder);
    state_ = State::Running;
    int64_t left = 0;
    for (File& f : files_) {
        // Files longer than their size are cut back to zero by their transfer.
        if (f.order.size >= 0)
            left += f.order.size - (f.onDisk <= f.order.size ? f.onDisk : 0);
        f.lastSampleBytes = f.onDisk;
    }
    lastDone_ = DoneBytes();
    const int64_t free = platform::FreeBytes(WithSlash(files_.front().order.folder));
    if (free >= 0 && free < left) {
        host_.Log("job " + std::to_string(order_.serial) + ": too little free space");
        host_.SendToClient(*this, link::BuildEngineNotice(order_.serial, key_, 1, ""));
    }
    StartMore();
}

void EngineJob::StartMore() {
    const std::size_t parallel = order_.mode == 1 ? 1 : kParallelFiles;
    std::size_t running = 0;
    bool pending = false;
    for (const File& f : files_) {
        running += f.state == FileState::Running;
        pending = pending || f.state == FileState::Pending;
    }
    for (std::size_t i = 0; i < files_.size() && running < parallel; ++i) {
        File& f = files_[i];
        if (f.state != FileState::Pending)
            continue;
        TransferRequest request{f.mirrors, f.path, f.order.size,
                                order_.mode == 1 ? kSlowBytesPerSecond : 0};
        f.transfer = backend_.StartDownload(static_cast<uint32_t>(i), request, *this);
        if (!f.transfer)
            return Fail(JobResult::WriteFailed, "cannot open " + f.path);
        f.state = FileState::Running;
        ++running;
    }
    if (running == 0 && !pending)
        Complete();
}

void EngineJob::OnTransferFinished(uint32_t id, TransferOutcome outcome) {
    File& f = files_.at(id);
    f.onDisk = f.transfer ? f.transfer->BytesOnDisk() : f.onDisk;
    f.transfer.reset();
    switch (outcome) {
        case TransferOutcome::Done:
            f.state = FileState::Done;
            host_.SendToClient(
                *this, link::BuildFileCompleted(order_.serial, key_, order_.name, f.path, ""));
            return StartMore();
        case TransferOutcome::Failed:
            return Fail(JobResult::MirrorsFailed, "every mirror failed for " + f.order.name);
        case TransferOutcome::WriteFailed:
            return Fail(JobResult::WriteFailed, "cannot write " + f.path);
    }
}

void EngineJob::Tick() {
    if (state_ == State::Running)
        SendProgress();
}

void EngineJob::SendProgress() {
    link::ProgressReport r;
    r.serial = order_.serial;
    r.engineKey = key_;
    r.fileCount = static_cast<uint32_t>(files_.size());
    for (File& f : files_) {
        if (f.state == FileState::Done)
            ++r.filesDone;
        if (f.state != FileState::Running || !f.transfer)
            continue;
        const int64_t now = f.transfer->BytesOnDisk();
        const int64_t delta = now > f.lastSampleBytes ? now - f.lastSampleBytes : 0;
        f.lastSampleBytes = now;
        r.entries.push_back({f.order.name, f.order.size, now, static_cast<uint32_t>(delta)});
    }
    r.total = TotalBytes();
    r.done = DoneBytes();
    r.speed = static_cast<uint32_t>(r.done > lastDone_ ? r.done - lastDone_ : 0);
    lastDone_ = r.done;
    r.timeStamp = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::steady_clock::now() - started_)
                      .count();
    host_.SendToClient(*this, link::BuildJobProgress(r));
}

int64_t EngineJob::DoneBytes() const {
    int64_t done = 0;
    for (const File& f : files_) {
        if (f.state == FileState::Done)
            done += f.order.size >= 0 ? f.order.size : f.onDisk;
        else if (f.transfer && f.state == FileState::Running)
            done += f.transfer->BytesOnDisk();
        else
            done += f.onDisk;
    }
    return done;
}

int64_t EngineJob::TotalBytes() const {
    int64_t total = 0;
    for (const File& f : files_)
        total += f.order.size >= 0 ? f.order.size : 0;
    return total;
}

void EngineJob::Fail(JobResult result, const std::string& why) {
    host_.Log("job " + std::to_string(order_.serial) + " given up: " + why);
    for (File& f : files_)
        f.transfer.reset();
    // Before acceptance the library still holds no key for the job.
    host_.SendToClient(*this, link::BuildJobFinished(order_.serial, accepted_ ? key_ : link::kNoKey,
                                                     static_cast<uint32_t>(result), true));
    End();
}

void EngineJob::Complete() {
    SendProgress();
    host_.Log("job " + std::to_string(order_.serial) + " complete");
    host_.SendToClient(*this, link::BuildJobFinished(order_.serial, key_, 0, false));
    End();
}

void EngineJob::Stop() {
    if (state_ == State::Over)
        return;
    host_.Log("job " + std::to_string(order_.serial) + " stopped");
    for (File& f : files_)
        f.transfer.reset();
    End();
}

void EngineJob::End() {
    state_ = State::Over;
    host_.OnJobEnded(*this);
}

}  // namespace engine::jobs
