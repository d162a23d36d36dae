#include "LibraryHarness.h"

#include "platform/Paths.h"

namespace tvxtest {

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

}  // namespace tvxtest
