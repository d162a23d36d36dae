#include "ReportHostConnection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ostra/norvikqos/agent/nwAgentMessages.h"

namespace {

constexpr int kReadsPerEvent = 16;
// Replies a client leaves unread beyond this mean it is not reading at all.
constexpr std::size_t kMaxQueuedReply = 1024 * 1024;

}  // namespace

ReportHostConnection::ReportHostConnection(int fd, std::string peer, RecordSink sink)
    : fd_(fd), peer_(std::move(peer)), sink_(std::move(sink)) {
    // The dispatcher is a member: its count is never used, so it is never released.
    dispatcher_.RegisterHandler(nwAgent::kCategory, nwAgent::kCommandReport, &OnReportMessage,
                                this);
}

ReportHostConnection::~ReportHostConnection() {
    ::close(fd_);
}

void ReportHostConnection::OnReportMessage(const uint8_t* payload, uint32_t length, void* context) {
    auto* self = static_cast<ReportHostConnection*>(context);
    nwAgentReport report;
    if (!nwReadAgentReport(payload, length, report)) {
        self->failure_ = "report shorter than its record count";
        self->dispatcher_.Stop();
        return;
    }
    for (uint32_t i = 0; i < report.count; ++i) {
        if (!self->sink_(
                ReadReportRecord(report.records + std::size_t{i} * nwAgent::kRecordSize))) {
            self->failure_ = "report could not be stored";
            self->dispatcher_.Stop();
            return;
        }
    }
    const nwStreamMessage reply = nwBuildAgentReplyMessage(nwAgent::kReplyAccepted);
    const auto bytes = reply.Bytes();
    self->out_.insert(self->out_.end(), bytes.begin(), bytes.end());
}

bool ReportHostConnection::OnReadable(std::string& reason) {
    // A bounded number of reads per readiness keeps one busy client from
    // starving the others; the level-triggered loop comes back for the rest.
    for (int round = 0; round < kReadsPerEvent; ++round) {
        const ssize_t n = ::recv(fd_, chunk_.data(), chunk_.size(), 0);
        if (n > 0) {
            if (!Consume(chunk_.data(), static_cast<std::size_t>(n), reason))
                return false;
            continue;
        }
        if (n == 0) {
            if (!in_.empty())
                reason = "closed inside a message (" + std::to_string(in_.size()) + " bytes left)";
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        reason = std::string("receive failed: ") + std::strerror(errno);
        return false;
    }
    return Flush(reason);
}

bool ReportHostConnection::Consume(const uint8_t* data, std::size_t length, std::string& reason) {
    // Parsing straight from the read buffer when nothing is pending spares a
    // copy; only the tail of an incomplete message is kept.
    if (!in_.empty()) {
        in_.insert(in_.end(), data, data + length);
        data = in_.data();
        length = in_.size();
    }
    int32_t consumed = 0;
    dispatcher_.Parse(data, static_cast<uint32_t>(length), consumed);
    if (!failure_.empty()) {
        reason = failure_;
        return false;
    }
    if (consumed < 0) {
        const nwStreamFrameHeader& h = dispatcher_.Header();
        reason =
            h.length > nwStreamFrame::kMaxPayloadLength
                ? "length field " + std::to_string(h.length) + " above the limit"
                : "unknown message " + std::to_string(h.category) + "/" + std::to_string(h.command);
        return false;
    }
    const auto left = static_cast<std::size_t>(consumed);
    if (in_.empty())
        in_.assign(data + left, data + length);
    else
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(left));
    return true;
}

bool ReportHostConnection::OnWritable(std::string& reason) {
    return Flush(reason);
}

bool ReportHostConnection::Flush(std::string& reason) {
    std::size_t sent = 0;
    while (sent < out_.size()) {
        const ssize_t n = ::send(fd_, out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL);
        if (n >= 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        reason = std::string("send failed: ") + std::strerror(errno);
        return false;
    }
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(sent));
    if (out_.size() > kMaxQueuedReply) {
        reason = "client does not read its replies";
        return false;
    }
    return true;
}
