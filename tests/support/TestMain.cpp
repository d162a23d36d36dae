// Every test process gets folders of its own: application data, configuration,
// home and temporary files all point into one fresh directory that is removed
// at the end, so no test writes outside it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/TempDir.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    tvxtest::TempDir root("tvx-test-");
    const std::string base = root.Path();
    for (const char* sub : {"data", "config", "home", "tmp", "run"})
        tvxtest::MakeDirs(base + sub);
    setenv("XDG_DATA_HOME", (base + "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base + "config").c_str(), 1);
    setenv("HOME", (base + "home").c_str(), 1);
    setenv("TMPDIR", (base + "tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (base + "run").c_str(), 1);
    return RUN_ALL_TESTS();
}
