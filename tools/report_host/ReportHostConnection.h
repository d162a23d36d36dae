#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "library/direct/ReportRecord.h"
#include "ostra/norvikqos/stack/nwCStreamDispatcher.h"

// One accepted agent connection of the report host: reads frames, hands every
// report record to the sink, and answers each report message with a reply.
// The socket is non-blocking and owned (closed by the destructor).
class ReportHostConnection {
  public:
    // Stores one record; false when it could not be stored (the connection is
    // then dropped without a reply, so the client does not take it as received).
    using RecordSink = std::function<bool(const ReportRecord&)>;

    ReportHostConnection(int fd, std::string peer, RecordSink sink);
    ~ReportHostConnection();
    ReportHostConnection(const ReportHostConnection&) = delete;
    ReportHostConnection& operator=(const ReportHostConnection&) = delete;

    int Fd() const { return fd_; }
    const std::string& Peer() const { return peer_; }

    // Reads what has arrived and handles every complete message. False when the
    // connection is over: closed by the peer (reason empty) or unusable (reason
    // says why).
    bool OnReadable(std::string& reason);
    // Sends queued replies. False when the connection is unusable.
    bool OnWritable(std::string& reason);
    bool WantsWrite() const { return !out_.empty(); }

  private:
    static void OnReportMessage(const uint8_t* payload, uint32_t length, void* context);
    bool Consume(const uint8_t* data, std::size_t length, std::string& reason);
    bool Flush(std::string& reason);

    int fd_;
    std::string peer_;
    RecordSink sink_;
    nwCStreamDispatcher dispatcher_;
    std::array<uint8_t, 64 * 1024> chunk_;
    // Bytes of a message not yet complete.
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
    std::string failure_;
};
