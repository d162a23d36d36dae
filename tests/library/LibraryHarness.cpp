#include "LibraryHarness.h"

#include <future>

#include "library/engine/EnginePathConfig.h"
#include "platform/Paths.h"

namespace tvxtest {
namespace {

// The library's tests run without the engine path unless a test turns it on
// (tests/library/engine/): the others would otherwise hand their jobs to an
// engine that the build's placeholder update server can never provide.
[[maybe_unused]] const bool kEnginePathOff = (tarvo::SetEnginePathEnabled(false), true);

}  // namespace

std::string LibraryTest::Folder(const std::string& leaf) {
    return platform::TempFolder() + "jobs/" + leaf + "/";
}

JobHandle LibraryTest::MakeJob(const std::string& name, int files) {
    JobHandle handle = 0;
    EXPECT_EQ(TarvoLib_CreateJob(&handle, "k", name.c_str()), tarvo::result::kSuccess);
    for (int i = 0; i < files; ++i) {
        const std::string url = "http://127.0.0.1/game/file" + std::to_string(i) + ".bin";
        EXPECT_EQ(TarvoLib_AddFile(handle, url.c_str(), Folder(name).c_str(), nullptr, 100, 0, 0),
                  tarvo::result::kSuccess);
    }
    return handle;
}

std::vector<int32_t> JobMessageCodes(JobHandle job) {
    std::vector<int32_t> codes;
    for (;;) {
        int32_t length = 0;
        TarvoLib_GetJobMessageLength(job, &length);
        std::string text(static_cast<size_t>(length > 0 ? length : 1), '\0');
        JobMessage message{0, text.data()};
        TarvoLib_GetJobMessage(job, &message);
        if (message.code == tarvo::result::kSuccess)
            return codes;
        codes.push_back(message.code);
    }
}

void RunOnWorker(const std::function<void()>& work) {
    std::promise<void> done;
    CDownloadLibThread::Instance()->Loop().Post([&] {
        {
            std::lock_guard guard(CDownloadLibThread::Instance()->Manager()->Lock());
            work();
        }
        done.set_value();
    });
    done.get_future().wait();
}

}  // namespace tvxtest
