#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "library/api/CDownloadLibThread.h"
#include "library/api/TarvoLib.h"
#include "library/jobs/CJob.h"
#include "library/jobs/CJobDownloader.h"
#include "library/jobs/CJobManager.h"
#include "platform/MessageTarget.h"

namespace tvxtest {

// One event as the host saw it: through the posted message or the callback.
struct SeenEvent {
    enum class Via { Message, Callback } via;
    int32_t code;
    uintptr_t handle;
    bool operator==(const SeenEvent&) const = default;
};

// A host window and callback that record every delivery in one ordered list.
class RecordingHost final : public platform::MessageTarget {
  public:
    void Post(uint32_t message, uintptr_t wParam, uintptr_t lParam) override {
        {
            std::lock_guard lock(mutex_);
            if (message == tarvo::kLibraryMessage)
                seen_.push_back({SeenEvent::Via::Message, static_cast<int32_t>(wParam), lParam});
        }
        changed_.notify_all();
    }
    static void Callback(int32_t code, uintptr_t handle, uintptr_t context) {
        auto* self = reinterpret_cast<RecordingHost*>(context);
        {
            std::lock_guard lock(self->mutex_);
            self->seen_.push_back({SeenEvent::Via::Callback, code, handle});
        }
        self->changed_.notify_all();
    }
    // Waits (bounded) until a callback with one of the codes arrived; returns
    // that code, or 0 on time-out.
    int32_t WaitForCallback(std::initializer_list<int32_t> codes, int timeoutMs = 10000) {
        std::unique_lock lock(mutex_);
        int32_t found = 0;
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const SeenEvent& e : seen_) {
                for (int32_t code : codes) {
                    if (e.via == SeenEvent::Via::Callback && e.code == code) {
                        found = code;
                        return true;
                    }
                }
            }
            return false;
        });
        return found;
    }
    // Waits (bounded) until count callbacks with code arrived; false on time-out.
    bool WaitForCount(int32_t code, size_t count, int timeoutMs = 20000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            size_t n = 0;
            for (const SeenEvent& e : seen_)
                n += e.via == SeenEvent::Via::Callback && e.code == code;
            return n >= count;
        });
    }
    size_t Count(int32_t code) const {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const SeenEvent& e : seen_)
            n += e.via == SeenEvent::Via::Callback && e.code == code;
        return n;
    }
    std::vector<SeenEvent> Seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    // The codes delivered through the callback, in order.
    std::vector<int32_t> CallbackCodes() const {
        std::vector<int32_t> codes;
        for (const SeenEvent& e : Seen()) {
            if (e.via == SeenEvent::Via::Callback)
                codes.push_back(e.code);
        }
        return codes;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        seen_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SeenEvent> seen_;
};

// A job downloader whose work the test drives by hand through the helpers.
class FakeDownloader final : public CJobDownloader {
  public:
    using CJobDownloader::CJobDownloader;
    using CJobDownloader::CompleteJob;
    using CJobDownloader::FailJob;
    using CJobDownloader::MarkAllOffline;
    using CJobDownloader::QueueJobMessage;
    using CJobDownloader::ReportFileDone;
    using CJobDownloader::ReportSizeKnown;
    using CJobDownloader::SetJobStatus;

    ResultCode beginResult = tarvo::result::kSuccess;
    int begins = 0;
    int ends = 0;
    int ticks = 0;
    std::vector<std::pair<int, int>> answers;

  protected:
    ResultCode Begin(CJob*) override {
        ++begins;
        return beginResult;
    }
    void End(CJob*) override { ++ends; }
    void Tick(CJob*) override { ++ticks; }
    ResultCode Answer(CJob*, uint8_t resume, uint8_t remember) override {
        answers.emplace_back(resume, remember);
        return tarvo::result::kSuccess;
    }
};

// An initialised library with a recording host and a fake direct downloader.
class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(TarvoLib_Initialize(&host_, &RecordingHost::Callback,
                                      reinterpret_cast<uintptr_t>(&host_)),
                  tarvo::result::kSuccess);
        auto fake = std::make_unique<FakeDownloader>(&Manager(), Manager().LockRef());
        fake_ = fake.get();
        Manager().SetDirectDownloader(std::move(fake));
    }
    void TearDown() override { TarvoLib_Finalize(); }

    CJobManager& Manager() { return *CDownloadLibThread::Instance()->Manager(); }
    CJob& Job(JobHandle handle) { return *Manager().FindJob(handle); }

    // A job with one file in a fresh folder below the test's temporary folder.
    JobHandle MakeJob(const std::string& name = "job", int files = 1);
    std::string Folder(const std::string& leaf);

    RecordingHost host_;
    FakeDownloader* fake_ = nullptr;
};

// The codes of the job's messages, read as the host reads them, until none is left.
std::vector<int32_t> JobMessageCodes(JobHandle job);

// Runs work on the worker thread under the engine lock, as the library's own
// events run, and waits for it.
void RunOnWorker(const std::function<void()>& work);

}  // namespace tvxtest
