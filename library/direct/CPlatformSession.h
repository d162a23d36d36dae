#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "library/direct/IPlatFormSessionEventListener.h"
#include "library/direct/ReportRecord.h"
#include "library/jobs/FileEntry.h"
#include "util/Sha256.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/http/qvIHttpClientExLayer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

class CJob;

// Downloads a job's files one after another over HTTP, straight into their
// files under the job's folder: each received chunk is written as the HTTP
// layer hands it over and consumed, so nothing of a body is held beyond the
// connection's receive buffer.
//
// Per file it walks the file's mirror URLs (the URL text split at "|"), makes
// up to kAttemptsPerUrl attempts per URL, follows 302 and 303, and takes 416
// as complete. A redirect target gets attempts of its own; a redirect chain
// that reaches kMaxRedirects, or whose target is missing or cannot be opened,
// is one failed attempt on the mirror it started from, so that a broken mirror
// always gives way to the next one. Every attempt creates the
// target file anew and asks for "bytes=0-". The connection's receive rate is
// capped by the own-budget receive action: kFastReceiveLimit, or
// kSlowReceiveLimit in job mode 0.
//
// A file with an expected digest (signed metadata) is hashed as it is written
// and completes only when its size and SHA-256 match; otherwise it is deleted
// and downloaded once more from its first mirror, and a second mismatch fails
// it (OnSessionError, so the job gets message 517 and never completes).
//
// Use (direct downloader, on the worker thread under the engine lock):
//   session.SetListener(this, context);
//   session.SetJobMode(job.Mode());
//   session.StartFiles(job);
//   ... GetWrittenBytes() and CurrentEntry() on OnSessionProgress;
//   ExportReportRecords(nullptr, 0) for the count, then into count records;
//   SetListener(nullptr, nullptr), then delete.
// After OnSessionComplete, OnSessionError or OnSessionMessage the session is
// idle until it is deleted. Deleting it detaches and releases its connection
// (through the deferred-release collector) and closes its file.
class CPlatformSession final : public nwIHttpClientExEventListener {
  public:
    static constexpr int32_t kAttemptsPerUrl = 3;
    static constexpr int32_t kMaxRedirects = 16;
    static constexpr int32_t kTimeoutSeconds = 3;  // connect and receive
    static constexpr int32_t kInitialActionType = 5;
    static constexpr int32_t kReceiveActionType = 6;
    static constexpr uint32_t kFastReceiveLimit = 104857600;  // bytes per second
    static constexpr uint32_t kSlowReceiveLimit = 393216;     // job mode 0

    CPlatformSession() = default;
    virtual ~CPlatformSession();
    CPlatformSession(const CPlatformSession&) = delete;
    CPlatformSession& operator=(const CPlatformSession&) = delete;

    // listener is not owned; context is passed back with every call.
    void SetListener(IPlatFormSessionEventListener* listener, void* context);
    // The job's mode: 0 selects the slow receive limit; anything else the fast.
    void SetJobMode(int32_t mode) { jobMode_ = mode; }
    // Copies every entry that has a URL text and a folder (byte counts
    // cleared) and starts the first. False, with no listener call, when no
    // entry qualifies or the session has been started before. A first file
    // that fails at once raises OnSessionError from inside this call.
    bool StartFiles(const std::vector<FileEntry>& files);
    bool StartFiles(const CJob& job);

    // Bytes written into the job's files and still there: an attempt that is
    // retried takes its bytes back out when its file is created anew.
    int64_t GetWrittenBytes() const { return writtenBytes_; }
    // The file being downloaded (its receivedBytes are the bytes written into
    // the file, its size the length the server announced), or nullptr.
    const FileEntry* CurrentEntry() const { return current_; }
    int32_t CurrentIndex() const { return entryIndex_; }

    // Fills up to capacity records, one per file that received bytes, in job
    // order: job name, URL text and every byte received for the file over all
    // its attempts. Returns the number of such files whatever capacity is, so
    // a first call with (nullptr, 0) gives the count.
    size_t ExportReportRecords(ReportRecord* records, size_t capacity) const;

    // The current attempt's connection context (tests look at its action).
    cpCQoSContext* Connection() const { return connection_.Get(); }

    // nwIHttpClientExEventListener
    void OnConnect(uint32_t) override {}
    void OnResponseHeader(uint32_t context) override;
    int32_t OnReceiveData(uint32_t context, const uint8_t* data, uint32_t length) override;
    void OnReceiveComplete(uint32_t context) override;
    void OnSendComplete(uint32_t) override {}
    void OnClose(uint32_t context) override;
    void OnConnectTimeout(uint32_t context) override;
    void OnReceiveTimeout(uint32_t context) override;
    void OnHostUnreachable(uint32_t) override {}

  private:
    void SetUpUrls();
    // Opens the file and, when no connection exists, starts a request; moves
    // on to the next attempt or URL when a request is refused at once.
    void RunAttempt(bool reset);
    bool OpenTargetFile();
    void CloseFile();
    // False when the URL was refused before anything was sent.
    bool StartRequest();
    // Detaches from the connection and defers its release; close first when
    // it is still open.
    void ReleaseConnection(bool close);
    void CloseConnection();
    // After a failed attempt: true when another attempt is due (on the same
    // URL or the next); false when the file has failed (reported).
    bool AdvanceAfterFailure();
    // A redirect chain was given up: back to the mirror it started from, with
    // the chain counted as one failed attempt there. Same result as above.
    bool AbandonRedirect();
    void CompleteFile();
    // A signed file whose bytes do not match: deleted, and fetched once more
    // (true) or failed (false, reported).
    bool RejectUnverifiedFile();
    void Redirect(qvIHttpClientExLayer& layer);
    void Fail();
    void StopWithWriteError();

    FileEntry* current_ = nullptr;
    qvSmartPtr<cpCQoSContext> connection_;
    qvIHttpClientExLayer* layer_ = nullptr;
    int32_t attempts_ = 0;
    int32_t entryIndex_ = 0;
    int32_t jobMode_ = 1;
    int64_t writtenBytes_ = 0;
    std::FILE* file_ = nullptr;
    size_t urlIndex_ = 0;
    // Redirects followed since the current mirror URL was last asked, and the
    // attempts that mirror URL had when the chain left it.
    int32_t redirects_ = 0;
    int32_t mirrorAttempts_ = 0;
    // The receive budget the last connection left, and the second it was left in.
    struct Carry {
        bool valid = false;
        uint32_t second = 0;
        uint32_t left = 0;
    };
    Carry carry_;
    bool started_ = false;
    bool idle_ = false;
    std::string currentUrl_;
    // The current attempt's bytes, hashed as they are written, so that a
    // signed file is verified without being read again.
    CSha256 hash_;
    std::string currentPath_;
    std::vector<FileEntry> entries_;
    // Every byte received per entry over all attempts, for the reports.
    std::vector<int64_t> reportBytes_;
    std::vector<std::string> urls_;
    IPlatFormSessionEventListener* listener_ = nullptr;
    void* listenerContext_ = nullptr;
};
