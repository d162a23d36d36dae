#include "library/direct/CPlatformSession.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <mutex>

#include "library/common/DirectoryPath.h"
#include "library/common/Log.h"
#include "library/jobs/CJob.h"
#include "library/jobs/FileDigestCheck.h"
#include "ostra/norvikqos/core/cpCQoS.h"
#include "ostra/norvikqos/http/ResolveLocation.h"
#include "ostra/norvikqos/http/utCUriCodec.h"
#include "ostra/norvikqos/object/qvCGarbageCollector.h"
#include "ostra/norvikqos/object/qvClassFactory.h"
#include "ostra/norvikqos/qos/cpCQoSContextAction.h"
#include "ostra/norvikqos/qos/cpCQoSOwnContextAction.h"

namespace {

constexpr int32_t kMessageWriteFailed = 513;

// A name that cannot reach outside the folder it is joined to: not empty, not
// "." or "..", and without a separator ("\" counts, as callers may give
// Windows-style names).
bool IsSafeFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

}  // namespace

CPlatformSession::~CPlatformSession() {
    listener_ = nullptr;
    ReleaseConnection(true);
    CloseFile();
}

void CPlatformSession::SetListener(IPlatFormSessionEventListener* listener, void* context) {
    listener_ = listener;
    listenerContext_ = context;
}

bool CPlatformSession::StartFiles(const CJob& job) {
    std::vector<FileEntry> files;
    files.reserve(job.FileCount());
    for (size_t i = 0; i < job.FileCount(); ++i)
        files.push_back(job.File(i));
    return StartFiles(files);
}

bool CPlatformSession::StartFiles(const std::vector<FileEntry>& files) {
    if (started_)
        return false;
    for (const FileEntry& file : files) {
        // An entry without a name is kept: opening it fails, so the job hears
        // of it instead of completing without the file.
        if (file.url.empty() || file.folder.empty())
            continue;
        // Already fetched and verified (by the engine): never fetched again.
        if (file.verified)
            continue;
        FileEntry copy = file;
        copy.size = 0;
        copy.receivedBytes = 0;
        copy.committedBytes = 0;
        copy.state = FileState::Pending;
        entries_.push_back(std::move(copy));
    }
    if (entries_.empty())
        return false;
    started_ = true;
    reportBytes_.assign(entries_.size(), 0);
    entryIndex_ = 0;
    current_ = &entries_[0];
    SetUpUrls();
    RunAttempt(false);
    return true;
}

void CPlatformSession::SetUpUrls() {
    urls_.clear();
    const std::string& text = current_->url;
    size_t start = 0;
    while (start <= text.size()) {
        size_t bar = text.find('|', start);
        if (bar == std::string::npos)
            bar = text.size();
        if (bar > start)
            urls_.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    urlIndex_ = 0;
    redirects_ = 0;
    currentUrl_ = urls_.empty() ? std::string() : urls_[0];
}

void CPlatformSession::RunAttempt(bool reset) {
    if (reset)
        attempts_ = 0;
    // A loop, not recursion: a URL refused before anything is sent counts as
    // a failed attempt at once.
    for (;;) {
        if (!OpenTargetFile()) {
            WriteLogFormat("[TarvoLib] WriteFileOpen Failed : %s", currentUrl_.c_str());
            Fail();
            return;
        }
        if (connection_)
            return;
        if (StartRequest())
            return;
        CloseFile();
        // A redirect target that cannot be opened ends its chain; the mirror
        // URL itself gets its attempts like any other failure.
        if (!(redirects_ > 0 ? AbandonRedirect() : AdvanceAfterFailure()))
            return;
    }
}

bool CPlatformSession::OpenTargetFile() {
    CloseFile();
    if (!IsSafeFileName(current_->name))
        return false;
    std::string path = current_->folder;
    if (path.back() != '/' && path.back() != '\\')
        path += '/';
    EnsureDirectoryPath(path);
    path += current_->name;
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb+");
    if (!file) {
        WriteLogFormat("[TarvoLib] CreateFile Failed(%d) : %s", errno, path.c_str());
        return false;
    }
    // Chunks go straight to the file, without a second copy in a stdio buffer.
    std::setvbuf(file, nullptr, _IONBF, 0);
    file_ = file;
    currentPath_ = path;
    std::fseek(file, 0, SEEK_END);
    const int64_t position = std::ftell(file);
    // The bytes of the previous attempt left the file when it was created anew.
    writtenBytes_ -= current_->receivedBytes + current_->committedBytes;
    current_->receivedBytes = 0;
    current_->committedBytes = position > 0 ? position : 0;
    writtenBytes_ += current_->committedBytes;
    hash_.Reset();
    if (listener_)
        listener_->OnPathCreated(currentPath_.c_str(), listenerContext_);
    return true;
}

void CPlatformSession::CloseFile() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    currentPath_.clear();
}

bool CPlatformSession::StartRequest() {
    ++attempts_;
    qvSmartPtr<cpCQoSContext> context;
    if (!context.CreateInstance(qvClassId::kQoSContext))
        return false;
    cpCQoS* registry = cpCQoS::Instance();
    cpCMutex* lock = registry ? registry->EngineLock() : nullptr;
    if (!lock)
        return false;
    std::lock_guard guard(*lock);
    connection_ = context;
    // The initial action may be unknown to the factory; the context is
    // registered either way, and the receive action replaces it below.
    context->Initialize(kInitialActionType, qvWatch::kConnectFailed | qvWatch::kReceiveTimeout,
                        nullptr);
    int32_t state = qvContextState::kNew;
    context->GetState(state);
    if (state == qvContextState::kNew) {
        connection_.Reset();
        return false;
    }
    context->SetTimeout(qvTimeoutKind::kConnect, &kTimeoutSeconds);
    context->SetTimeout(qvTimeoutKind::kReceive, &kTimeoutSeconds);
    qvSmartPtr<> top;
    if (qv::Succeeded(context->PushLayer(qvClassId::kHttpClientExLayer, false)))
        top = context->GetTopLayer();
    layer_ = dynamic_cast<qvIHttpClientExLayer*>(top.Get());
    if (!layer_) {
        ReleaseConnection(true);
        return false;
    }
    // Without the budgeted receive action the transfer still runs, unthrottled.
    if (qv::Failed(context->SetAction(kReceiveActionType)))
        context->SetAction(cpQoSAction::kHigh);
    const uint32_t limit = jobMode_ != 0 ? kFastReceiveLimit : kSlowReceiveLimit;
    context->SetActionParameter(cpQoSAction::kDirectionReceive, limit);
    // Within the second the last connection ended in, only what it left may
    // still be received: the limit holds for the session, not per connection.
    if (carry_.valid && registry->ProcessBudget().second == carry_.second)
        context->SetActionParameter(cpQoSAction::kDirectionReceiveLeft, carry_.left);
    layer_->SetEventListener(this, 0);
    if (qv::Failed(layer_->Open(currentUrl_.c_str()))) {
        ReleaseConnection(true);
        return false;
    }
    char range[48];
    std::snprintf(range, sizeof range, "bytes=%" PRId64 "-", current_->committedBytes);
    layer_->SetRequestHeader("Range", range);
    layer_->SendGet();
    return true;
}

void CPlatformSession::ReleaseConnection(bool close) {
    if (!connection_)
        return;
    qvSmartPtr<cpCQoSContext> context = std::move(connection_);
    connection_.Reset();
    if (const auto* own = dynamic_cast<const cpCQoSOwnContextAction*>(context->Action());
        own && cpCQoS::Instance()) {
        carry_ =
            Carry{true, cpCQoS::Instance()->ProcessBudget().second, own->ReceiveBudget().budget};
    }
    if (layer_)
        layer_->SetEventListener(nullptr, 0);
    layer_ = nullptr;
    if (close)
        context->Close();
    qvCGarbageCollector::Instance().Defer(qvSmartPtr<>(static_cast<qvIUnknown*>(context.Get())));
}

void CPlatformSession::CloseConnection() {
    // The context's close reaches OnClose, which retries; hold it over the call.
    if (qvSmartPtr<cpCQoSContext> context = connection_)
        context->Close();
}

bool CPlatformSession::AdvanceAfterFailure() {
    if (attempts_ < kAttemptsPerUrl)
        return true;
    attempts_ = 0;
    ++urlIndex_;
    if (urlIndex_ < urls_.size()) {
        currentUrl_ = urls_[urlIndex_];
        redirects_ = 0;
        return true;
    }
    WriteLogFormat("[TarvoLib] TryMax Over : %s", currentUrl_.c_str());
    Fail();
    return false;
}

bool CPlatformSession::AbandonRedirect() {
    if (redirects_ > 0)
        attempts_ = mirrorAttempts_;
    redirects_ = 0;
    currentUrl_ = urls_[urlIndex_];
    return AdvanceAfterFailure();
}

void CPlatformSession::Fail() {
    ReleaseConnection(true);
    CloseFile();
    idle_ = true;
    if (listener_)
        listener_->OnSessionError(listenerContext_, currentUrl_.c_str());
}

void CPlatformSession::OnResponseHeader(uint32_t) {
    if (!connection_ || !layer_ || idle_)
        return;
    int32_t status = 0;
    int64_t length = 0;
    layer_->GetStatusCode(status);
    layer_->GetContentLength(length);
    if (length > 0 && length == current_->committedBytes) {
        CompleteFile();
        return;
    }
    switch (status) {
        case 200:
        case 206: {
            if (length > 0) {
                current_->size = current_->committedBytes + length;
                return;
            }
            // An announced empty body is a complete empty file; without a
            // length the body runs until the close, which counts as a failure.
            qvCString declared;
            if (qv::Succeeded(layer_->GetResponseHeader("Content-Length:", declared)) &&
                !declared.IsEmpty()) {
                current_->size = current_->committedBytes;
                CompleteFile();
            }
            return;
        }
        case 416:
            CompleteFile();
            return;
        case 302:
        case 303:
            Redirect(*layer_);
            return;
        default:
            CloseConnection();
            return;
    }
}

void CPlatformSession::Redirect(qvIHttpClientExLayer& layer) {
    qvCString raw;
    qvCString location;
    if (qv::Succeeded(layer.GetResponseHeader("Location:", raw)))
        utCUriCodec::Utf8ToAnsi(raw.CStr(), location);
    ReleaseConnection(true);
    CloseFile();
    std::string target;
    if (location.IsEmpty()) {
        WriteLogFormat("[TarvoLib] eNWHSC_HTTP_SEEOTHER  : %s", currentUrl_.c_str());
    } else if (redirects_ >= kMaxRedirects ||
               qv::Failed(ResolveLocation(currentUrl_, location.CStr(), target))) {
        WriteLogFormat("[TarvoLib] Redirect Failed : %s", currentUrl_.c_str());
    } else {
        if (redirects_ == 0)
            mirrorAttempts_ = attempts_;
        ++redirects_;
        currentUrl_ = std::move(target);
        RunAttempt(true);
        return;
    }
    if (AbandonRedirect())
        RunAttempt(false);
}

int32_t CPlatformSession::OnReceiveData(uint32_t, const uint8_t* data, uint32_t length) {
    if (!file_ || idle_)
        return static_cast<int32_t>(length);
    const size_t written = length > 0 ? std::fwrite(data, 1, length, file_) : 0;
    // A partly written chunk is in the file: count it, so that the counts
    // match the file when the transfer stops.
    current_->receivedBytes += static_cast<int64_t>(written);
    reportBytes_[static_cast<size_t>(entryIndex_)] += static_cast<int64_t>(written);
    writtenBytes_ += static_cast<int64_t>(written);
    if (written != length) {
        StopWithWriteError();
        return static_cast<int32_t>(length);
    }
    if (current_->expected)
        hash_.Update(data, written);
    if (listener_)
        listener_->OnSessionProgress(listenerContext_);
    return static_cast<int32_t>(length);
}

void CPlatformSession::StopWithWriteError() {
    // Going on would leave a hole in the file and still report it complete.
    ReleaseConnection(true);
    CloseFile();
    idle_ = true;
    if (listener_)
        listener_->OnSessionMessage(listenerContext_, kMessageWriteFailed, currentUrl_.c_str());
}

void CPlatformSession::OnReceiveComplete(uint32_t) {
    if (connection_ && !idle_)
        CompleteFile();
}

bool CPlatformSession::RejectUnverifiedFile() {
    const std::string path = currentPath_;
    ReleaseConnection(true);
    CloseFile();
    // A file that is not what the publisher signed is never left to be run.
    std::remove(path.c_str());
    writtenBytes_ -= current_->receivedBytes + current_->committedBytes;
    current_->receivedBytes = 0;
    current_->committedBytes = 0;
    if (++current_->verifyFailures >= 2) {
        WriteLogFormat("[TarvoLib] Verify Failed : %s", current_->url.c_str());
        Fail();
        return false;
    }
    WriteLogFormat("[TarvoLib] Verify Failed, Retry : %s", current_->url.c_str());
    SetUpUrls();
    return true;
}

void CPlatformSession::CompleteFile() {
    if (current_->expected && !DigestMatches(*current_->expected, hash_)) {
        if (RejectUnverifiedFile())
            RunAttempt(true);
        return;
    }
    if (current_->expected)
        WriteLogFormat("[TarvoLib] Verified : %s", current_->url.c_str());
    CloseFile();
    ReleaseConnection(true);
    const size_t finished = static_cast<size_t>(entryIndex_);
    entries_[finished].state = FileState::Done;
    ++entryIndex_;
    const bool more = static_cast<size_t>(entryIndex_) < entries_.size();
    if (more) {
        current_ = &entries_[static_cast<size_t>(entryIndex_)];
        SetUpUrls();
    } else {
        current_ = nullptr;
        idle_ = true;
    }
    if (listener_)
        listener_->OnFileComplete(listenerContext_, entries_[finished]);
    if (more) {
        RunAttempt(true);
    } else if (listener_) {
        listener_->OnSessionComplete(listenerContext_);
    }
}

void CPlatformSession::OnClose(uint32_t) {
    if (!connection_ || idle_)
        return;
    ReleaseConnection(false);
    CloseFile();
    if (AdvanceAfterFailure())
        RunAttempt(false);
}

void CPlatformSession::OnConnectTimeout(uint32_t) {
    CloseConnection();
}

void CPlatformSession::OnReceiveTimeout(uint32_t) {
    CloseConnection();
}

size_t CPlatformSession::ExportReportRecords(ReportRecord* records, size_t capacity) const {
    size_t count = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (reportBytes_[i] <= 0)
            continue;
        if (records && count < capacity) {
            const FileEntry& entry = entries_[i];
            const size_t nameLength = strnlen(entry.jobName, sizeof entry.jobName);
            records[count] = MakeReportRecord(std::string_view(entry.jobName, nameLength),
                                              entry.url, reportBytes_[i]);
        }
        ++count;
    }
    return count;
}
