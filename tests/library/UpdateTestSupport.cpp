#include "UpdateTestSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "library/common/CGetPath_Brenholt.h"
#include "library/common/DirectoryPath.h"
#include "support/TempDir.h"

namespace tvxtest {

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

namespace {
std::string MakeArchive(const std::string& dir, const std::string& command,
                        const std::vector<std::string>& paths) {
    TempDir out;
    const std::string archive = out.Path() + "out.arc";
    std::string line = "cd " + Quoted(dir) + " && " + command + " " + Quoted(archive);
    for (const std::string& p : paths)
        line += " " + Quoted(p);
    if (Shell(line + " >/dev/null 2>&1") != 0)
        return {};
    return ReadFile(archive);
}
}  // namespace

std::string Make7z(const std::string& dir, const std::vector<std::string>& paths) {
    return MakeArchive(dir, "7zz a -t7z -bd", paths);
}

std::string MakeZip(const std::string& dir, const std::vector<std::string>& paths) {
    return MakeArchive(dir, "zip -q -r -X", paths);
}

std::string EngineFolder() {
    return CGetPath_Brenholt::Instance().EngineFolder();
}

std::string EnginePath() {
    return CGetPath_Brenholt::Instance().EnginePath();
}

bool InstallTestEngine() {
    if (!EnsureDirectoryPath(EngineFolder()))
        return false;
    unlink(EnginePath().c_str());
    return WriteFile(EnginePath(), ReadFile(TVX_TEST_ENGINE)) &&
           chmod(EnginePath().c_str(), 0644) == 0;
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

}  // namespace tvxtest
