#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LibraryHarness.h"
#include "library/direct/CPlatformSession.h"
#include "library/direct/IPlatFormSessionEventListener.h"
#include "library/jobs/FileEntry.h"

namespace tvxtest {

// Records what a session reports, in order, as short texts:
// "path <path>", "file <name>", "error <url>", "message <code> <url>",
// "complete"; progress calls are only counted.
class RecordingSessionListener final : public IPlatFormSessionEventListener {
  public:
    void OnSessionComplete(void* context) override { Add(context, "complete", true); }
    void OnSessionError(void* context, const char* text) override {
        Add(context, std::string("error ") + text, true);
    }
    void OnFileComplete(void* context, const FileEntry& entry) override {
        Add(context, "file " + entry.name, false);
    }
    void OnSessionProgress(void* context) override {
        std::lock_guard lock(mutex_);
        EXPECT_EQ(context, this);
        ++progress_;
    }
    void OnPathCreated(const char* path, void* context) override {
        Add(context, std::string("path ") + path, false);
    }
    void OnSessionMessage(void* context, int32_t code, const char* text) override {
        Add(context, "message " + std::to_string(code) + " " + text, true);
    }

    // Waits (bounded) for the session to end: complete, error or message.
    bool WaitForEnd(int timeoutMs = 20000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return ended_; });
    }
    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // The events without the "path" lines.
    std::vector<std::string> Outcomes() const {
        std::vector<std::string> out;
        for (const std::string& e : Events()) {
            if (e.rfind("path ", 0) != 0)
                out.push_back(e);
        }
        return out;
    }
    int Progress() const {
        std::lock_guard lock(mutex_);
        return progress_;
    }

  private:
    void Add(void* context, std::string event, bool ends) {
        {
            std::lock_guard lock(mutex_);
            EXPECT_EQ(context, this);
            EXPECT_FALSE(ended_) << "event after the end: " << event;
            events_.push_back(std::move(event));
            ended_ = ended_ || ends;
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    int progress_ = 0;
    bool ended_ = false;
};

// An initialised library; the session lives on its worker thread and every
// call into it is posted there and made under the engine lock.
class PlatformSessionTestBase : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  tarvo::result::kSuccess);
    }
    void TearDown() override {
        OnWorker([this] { session_.reset(); });
        TarvoLib_Finalize();
    }

    CJobManager& Manager() { return *CDownloadLibThread::Instance()->Manager(); }

    // Runs task on the worker thread under the engine lock and waits for it.
    void OnWorker(std::function<void()> task) {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        CDownloadLibThread::Instance()->Loop().Post([this, task, done] {
            std::lock_guard lock(Manager().Lock());
            task();
            done->set_value();
        });
        ASSERT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    }

    static FileEntry Entry(const std::string& url, const std::string& folder,
                           const std::string& name, const char* jobName = "job") {
        FileEntry entry;
        entry.url = url;
        entry.folder = folder;
        entry.name = name;
        std::strncpy(entry.jobName, jobName, sizeof entry.jobName - 1);
        return entry;
    }

    // Makes the session and starts it over files; false when StartFiles was.
    bool Start(const std::vector<FileEntry>& files, int32_t mode = 1,
               RecordingSessionListener* listener = nullptr) {
        if (!listener)
            listener = &listener_;
        bool started = false;
        OnWorker([&] {
            session_ = std::make_unique<CPlatformSession>();
            session_->SetListener(listener, listener);
            session_->SetJobMode(mode);
            started = session_->StartFiles(files);
        });
        return started;
    }
    // Starts and waits for the end.
    void Run(const std::vector<FileEntry>& files, int32_t mode = 1,
             RecordingSessionListener* listener = nullptr) {
        ASSERT_TRUE(Start(files, mode, listener));
        ASSERT_TRUE((listener ? listener : &listener_)->WaitForEnd()) << "session did not end";
    }
    int64_t WrittenBytes() {
        int64_t bytes = -1;
        OnWorker([&] { bytes = session_->GetWrittenBytes(); });
        return bytes;
    }
    std::vector<ReportRecord> Records() {
        std::vector<ReportRecord> records;
        OnWorker([&] {
            records.resize(session_->ExportReportRecords(nullptr, 0));
            EXPECT_EQ(session_->ExportReportRecords(records.data(), records.size()),
                      records.size());
        });
        return records;
    }

    RecordingHost host_;
    RecordingSessionListener listener_;
    std::unique_ptr<CPlatformSession> session_;
};

// A loopback port nothing listens on (bound once, then closed).
inline uint16_t DeadPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

}  // namespace tvxtest
