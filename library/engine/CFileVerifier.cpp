#include "library/engine/CFileVerifier.h"

#include "library/jobs/FileDigestCheck.h"
#include "platform/EventLoop.h"

CFileVerifier::CFileVerifier(platform::EventLoop& loop, qvSmartPtr<cpCMutex> lock)
    : loop_(loop), lock_(std::move(lock)), self_(std::make_shared<CFileVerifier*>(this)) {}

CFileVerifier::~CFileVerifier() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    // Results already posted find no verifier.
    std::lock_guard guard(*lock_);
    self_.reset();
}

void CFileVerifier::Verify(std::string path, FileDigest expected, Done done) {
    {
        std::lock_guard guard(mutex_);
        queue_.push_back({std::move(path), expected, std::move(done)});
        // The thread starts with the first file: most launchers never need it.
        if (!thread_.joinable())
            thread_ = std::thread(&CFileVerifier::Run, this);
    }
    wake_.notify_one();
}

void CFileVerifier::Run() {
    for (;;) {
        Work work;
        {
            std::unique_lock guard(mutex_);
            wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        const bool matches = FileMatchesDigest(work.path, work.expected);
        std::weak_ptr<CFileVerifier*> alive = self_;
        loop_.Post([alive, lock = lock_, done = std::move(work.done), matches] {
            std::lock_guard guard(*lock);
            if (alive.lock())
                done(matches);
        });
    }
}
