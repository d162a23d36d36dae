#include "engine/http/CurlTransfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "engine/http/ContentRange.h"
#include "engine/http/CurlBackend.h"

namespace engine::http {

CurlTransfer::CurlTransfer(CurlBackend& backend, Kind kind, uint32_t id,
                           jobs::TransferRequest request, jobs::ITransferListener& listener)
    : backend_(backend), kind_(kind), id_(id), request_(std::move(request)), listener_(listener) {}

CurlTransfer::~CurlTransfer() {
    if (inMulti_)
        backend_.Remove(easy_);
    if (easy_)
        curl_easy_cleanup(easy_);
    CloseFile();
}

bool CurlTransfer::Start() {
    easy_ = curl_easy_init();
    if (!easy_ || request_.mirrors.empty())
        return false;
    return BeginAttempt();
}

bool CurlTransfer::BeginAttempt() {
    statusChecked_ = badStatus_ = writeFailed_ = pastTheEnd_ = false;
    contentRangeStart_ = -1;
    rangeStart_ = 0;
    if (kind_ == Kind::Download) {
        CloseFile();
        fd_ = ::open(request_.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0)
            return false;
        const off_t end = ::lseek(fd_, 0, SEEK_END);
        if (end < 0)
            return false;
        onDisk_ = rangeStart_ = end;
        // More than the file can hold is not a part of it.
        if (request_.expectedSize >= 0 && onDisk_ > request_.expectedSize) {
            Truncate();
            rangeStart_ = 0;
        }
    }
    curl_easy_reset(easy_);
    backend_.ApplyCommonOptions(easy_, request_.mirrors[mirror_]);
    curl_easy_setopt(easy_, CURLOPT_PRIVATE, static_cast<ICurlRequest*>(this));
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    if (kind_ == Kind::SizeProbe) {
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &OnWrite);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        if (rangeStart_ > 0) {
            const std::string range = std::to_string(rangeStart_) + "-";
            curl_easy_setopt(easy_, CURLOPT_RANGE, range.c_str());  // curl copies it
        }
        if (request_.maxBytesPerSecond > 0)
            curl_easy_setopt(easy_, CURLOPT_MAX_RECV_SPEED_LARGE,
                             static_cast<curl_off_t>(request_.maxBytesPerSecond));
    }
    backend_.Add(easy_);
    inMulti_ = true;
    return true;
}

void CurlTransfer::CloseFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void CurlTransfer::Truncate() {
    if (fd_ >= 0 && ::ftruncate(fd_, 0) == 0)
        ::lseek(fd_, 0, SEEK_SET);
    onDisk_ = 0;
}

void CurlTransfer::OnAttemptDone(CURLcode result) {
    inMulti_ = false;
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    if (kind_ == Kind::SizeProbe) {
        if (result == CURLE_OK && status >= 200 && status < 300) {
            curl_off_t length = -1;
            curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            return Finish(jobs::TransferOutcome::Done, length >= 0 ? length : -1);
        }
        return RetryOrGiveUp();
    }
    if (writeFailed_)
        return Finish(jobs::TransferOutcome::WriteFailed);
    const int64_t expected = request_.expectedSize;
    if (result == CURLE_OK && (status == 200 || status == 206) && !badStatus_) {
        if (expected < 0 || onDisk_ == expected)
            return Finish(jobs::TransferOutcome::Done);
        if (onDisk_ > expected)
            Truncate();
        return RetryOrGiveUp();
    }
    if (result == CURLE_OK && status == 416) {
        // Nothing left past what we have: whole, unless the size says otherwise.
        if (expected < 0 ? rangeStart_ > 0 : onDisk_ == expected)
            return Finish(jobs::TransferOutcome::Done);
        Truncate();
    }
    RetryOrGiveUp();
}

void CurlTransfer::RetryOrGiveUp() {
    if (++attempts_ >= kAttemptsPerMirror) {
        attempts_ = 0;
        ++mirror_;
    }
    if (mirror_ >= request_.mirrors.size())
        return Finish(jobs::TransferOutcome::Failed);
    if (!BeginAttempt())
        Finish(jobs::TransferOutcome::WriteFailed);
}

void CurlTransfer::Finish(jobs::TransferOutcome outcome, int64_t size) {
    finished_ = true;
    CloseFile();
    // The listener may destroy this transfer: nothing is touched afterwards.
    if (kind_ == Kind::SizeProbe)
        listener_.OnSizeFound(id_, outcome == jobs::TransferOutcome::Done, size);
    else
        listener_.OnTransferFinished(id_, outcome);
}

bool CurlTransfer::CheckStatusOnce() {
    if (statusChecked_)
        return !badStatus_;
    statusChecked_ = true;
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    if (status == 206) {
        badStatus_ = contentRangeStart_ != rangeStart_;
    } else if (status == 200) {
        if (rangeStart_ > 0) {
            // The server ignored the range: the body is the whole file.
            Truncate();
            rangeStart_ = 0;
        }
    } else if (status == 416 && rangeStart_ > 0) {
        // The range starts at the end of what is on disk (a file whole before
        // a stop): the server's error page is dropped, not written, so that
        // the answer ends without an error and is judged as such.
        pastTheEnd_ = true;
    } else {
        badStatus_ = true;  // an error page is not the file
    }
    return !badStatus_;
}

size_t CurlTransfer::OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    if (!t->CheckStatusOnce())
        return CURL_WRITEFUNC_ERROR;
    if (t->pastTheEnd_)
        return length;
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(t->fd_, data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            t->writeFailed_ = true;
            return CURL_WRITEFUNC_ERROR;
        }
        done += static_cast<size_t>(n);
        t->onDisk_ += n;
    }
    return length;
}

size_t CurlTransfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    const std::string_view line(data, length);
    // Every response of a redirect chain starts its own header block.
    if (line.rfind("HTTP/", 0) == 0) {
        t->contentRangeStart_ = -1;
        t->statusChecked_ = false;
    }
    if (const auto range = ParseContentRangeLine(line))
        t->contentRangeStart_ = range->first;
    return length;
}

}  // namespace engine::http
