#include "library/actions/CBinaryExecute_V3.h"

#include "library/common/CGetPath_Brenholt.h"
#include "library/common/Log.h"
#include "platform/FileSystem.h"

namespace {

// The engine's standard error beside it, so that what kept it from starting
// (the dynamic loader names a missing library there) can be read.
std::string ErrorFileFor(const std::string& engine) {
    const size_t slash = engine.rfind('/');
    return (slash == std::string::npos ? std::string() : engine.substr(0, slash + 1)) +
           CBinaryExecute_V3::kErrorFileName;
}

void LogFailure(const std::string& path, const platform::StartOutcome& outcome) {
    WriteLogFormat("[TarvoLib] Engine start failed (%s): %s%s", path.c_str(), outcome.reason.c_str(),
                   outcome.lasting ? "; it cannot start on this system" : "");
}

}  // namespace

CBinaryExecute_V3& CBinaryExecute_V3::Instance() {
    static CBinaryExecute_V3 instance;
    return instance;
}

int CBinaryExecute_V3::GetPath(std::string& out) const {
    CGetPath_Brenholt::Instance().GetEnginePath(out);
    return !out.empty() && platform::PathExists(out) && !platform::IsDirectory(out) ? 1 : 0;
}

void CBinaryExecute_V3::CopyPath(std::string& out, const std::string& in) const {
    out = in;
}

int CBinaryExecute_V3::Start(std::unique_ptr<platform::ProcessStart>& wait,
                             platform::StartOutcome& failure) {
    wait.reset();
    std::string path;
    if (!GetPath(path)) {
        WriteLog("[TarvoLib] Run Binary (no executable file)");
        failure = {platform::StartOutcome::State::Failed, false, "no engine file", 0};
        return 0;
    }
    const std::string errors = ErrorFileFor(path);
    if (platform::IsProgramFile(path)) {
        platform::MakeOwnerExecutable(path);
        wait = platform::StartProgram(path, errors, failure);
    } else {
        wait = platform::OpenWithDesktop(path, failure);
    }
    if (wait) {
        WriteLog("[TarvoLib] Execute OK(0)");
        return 1;
    }
    // Opening failed: start the file itself as a program.
    platform::MakeOwnerExecutable(path);
    wait = platform::StartProgram(path, errors, failure);
    if (wait) {
        WriteLog("[TarvoLib] Execute OK(3)");
        return 1;
    }
    WriteLogFormat("[TarvoLib] Execute Fail(3) %s:%d", path.c_str(), failure.systemError);
    LogFailure(path, failure);
    return 0;
}

int CBinaryExecute_V3::RunEngine(platform::StartOutcome* outcome) {
    std::unique_ptr<platform::ProcessStart> wait;
    platform::StartOutcome result;
    if (!Start(wait, result)) {
        if (outcome)
            *outcome = result;
        return 0;
    }
    WriteLog("[TarvoLib] Begin WFII");
    result = wait->WaitBlocking();
    WriteLog("[TarvoLib] End WFII");
    if (outcome)
        *outcome = result;
    if (result.IsReady())
        return 1;
    std::string path;
    GetPath(path);
    LogFailure(path, result);
    return 0;
}

int CBinaryExecute_V3::RunEngine(platform::EventLoop& loop, Callback onEnd,
                                 std::unique_ptr<platform::ProcessStart>& wait,
                                 platform::StartOutcome& failure) {
    if (!Start(wait, failure))
        return 0;
    WriteLog("[TarvoLib] Begin WFII");
    std::string path;
    GetPath(path);
    wait->Watch(loop, [onEnd = std::move(onEnd), path](const platform::StartOutcome& outcome) {
        WriteLog("[TarvoLib] End WFII");
        if (!outcome.IsReady())
            LogFailure(path, outcome);
        if (onEnd)
            onEnd(outcome);
    });
    return 1;
}
