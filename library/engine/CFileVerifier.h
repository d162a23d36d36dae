#pragma once

// Checks files the engine reports complete against their signed digests on a
// thread of its own, one file after another, so that reading a large file
// never holds up the worker loop and overlaps the rest of the download. Each
// result goes back to the worker loop as a posted task, run under the engine
// lock; results still on the way when the verifier goes are dropped.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "library/jobs/FileEntry.h"
#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

namespace platform {
class EventLoop;
}

class CFileVerifier {
  public:
    using Done = std::function<void(bool matches)>;

    CFileVerifier(platform::EventLoop& loop, qvSmartPtr<cpCMutex> lock);
    // Waits for the file being read, if any; queued files are dropped.
    ~CFileVerifier();
    CFileVerifier(const CFileVerifier&) = delete;
    CFileVerifier& operator=(const CFileVerifier&) = delete;

    // done runs on the worker loop under the engine lock, unless the verifier
    // is gone by then.
    void Verify(std::string path, FileDigest expected, Done done);

  private:
    struct Work {
        std::string path;
        FileDigest expected;
        Done done;
    };
    void Run();

    platform::EventLoop& loop_;
    qvSmartPtr<cpCMutex> lock_;
    // Posted results hold a weak reference: the verifier is alive while it holds.
    std::shared_ptr<CFileVerifier*> self_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Work> queue_;
    bool stopping_ = false;
    std::thread thread_;
};
