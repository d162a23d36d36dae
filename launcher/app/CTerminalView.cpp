#include "launcher/app/CTerminalView.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "launcher/core/DiskSpace.h"
#include "launcher/core/FolderChooser.h"
#include "launcher/core/FolderRules.h"

namespace launcher {
namespace {

// The quit request travels through the same queue as every other message,
// so it takes effect after the handler that posted it has returned.
constexpr uint32_t kQuitMessage = 0x0012;

constexpr char kCommandList[] =
    "commands: start | stop | run | folder PATH | close  (one per line)\n";
constexpr char kResumeFirstLine[] = "%s 클라이언트를 다운 받습니다.";
constexpr char kResumeSecondLine[] = "이어받기 하시겠습니까?";
constexpr char kWaitText[] = "다운로드 받은 파일을 검사하고 설치를 실행중입니다.";

std::string Trimmed(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
        --end;
    return std::string(text.substr(begin, end - begin));
}

const char* Prompt(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::kYesNo:
            return "(y/n) ";
        case MessageButtons::kRetryCancel:
            return "(r/c) ";
        case MessageButtons::kOk:
        default:
            return "(Enter) ";
    }
}

MessageAnswer EndOfInputAnswer(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::kYesNo:
            return MessageAnswer::kNo;
        case MessageButtons::kRetryCancel:
            return MessageAnswer::kCancel;
        case MessageButtons::kOk:
        default:
            return MessageAnswer::kOk;
    }
}

std::optional<MessageAnswer> AnswerOf(std::string_view line, MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::kOk:
            return MessageAnswer::kOk;
        case MessageButtons::kYesNo:
            if (line == "y" || line == "Y")
                return MessageAnswer::kYes;
            if (line == "n" || line == "N")
                return MessageAnswer::kNo;
            return std::nullopt;
        case MessageButtons::kRetryCancel:
            if (line == "r" || line == "R")
                return MessageAnswer::kRetry;
            if (line == "c" || line == "C")
                return MessageAnswer::kCancel;
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

CTerminalView::CTerminalView(DownloaderConfig config, int inputFd, std::FILE* out)
    : inputFd_(inputFd), out_(out) {
    controller_ = std::make_unique<CDownloaderController>(*this, std::move(config));
}

CTerminalView::~CTerminalView() {
    if (controller_)
        controller_->OnDestroy();
}

int CTerminalView::Run() {
    if (!queue_.IsValid()) {
        Print("tvx-launcher: cannot create the message queue\n");
        return 1;
    }
    uiThread_ = std::this_thread::get_id();
    controller_->OnInitialise();
    while (!quit_ && !closed_) {
        std::string line;
        bool haveLine = false;
        {
            std::lock_guard lock(inputMutex_);
            haveLine = TakeLine(line);
        }
        if (haveLine) {
            HandleCommand(line);
            continue;
        }
        if (inputEnded_) {
            CloseWhenNothingCanHappen();
            if (quit_ || closed_)
                break;
        }
        pollfd fds[2] = {{queue_.Fd(), POLLIN, 0}, {inputFd_, POLLIN, 0}};
        const int n = ::poll(fds, inputEnded_ ? 1 : 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0)
            HandlePosted();
        if (!inputEnded_ && fds[1].revents != 0) {
            std::lock_guard lock(inputMutex_);
            if (!ReadInput())
                inputEnded_ = true;
        }
    }
    controller_->OnDestroy();
    return 0;
}

void CTerminalView::Activate() {
    // A terminal has no window to raise.
}

bool CTerminalView::ReadInput() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(inputFd_, buffer, sizeof buffer);
        if (n > 0) {
            pending_.append(buffer, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A descriptor that cannot be read ends the input like its end does.
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;
    }
}

bool CTerminalView::TakeLine(std::string& line) {
    const size_t end = pending_.find('\n');
    if (end == std::string::npos) {
        // The last line of an input without a final line end still counts.
        if (!inputEnded_ || pending_.empty())
            return false;
        line = Trimmed(pending_);
        pending_.clear();
        return true;
    }
    line = Trimmed(std::string_view(pending_).substr(0, end));
    pending_.erase(0, end + 1);
    return true;
}

CTerminalView::Input CTerminalView::WaitForLine(std::string& line) {
    const bool ui = OnUiThread();
    for (;;) {
        {
            std::lock_guard lock(inputMutex_);
            if (TakeLine(line))
                return Input::kLine;
            if (inputEnded_)
                return Input::kEnd;
        }
        pollfd fds[2] = {{inputFd_, POLLIN, 0}, {queue_.Fd(), POLLIN, 0}};
        const int n = ::poll(fds, ui ? 2 : 1, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::lock_guard lock(inputMutex_);
            inputEnded_ = true;
            continue;
        }
        if (ui && fds[1].revents != 0)
            HandlePosted();
        if (fds[0].revents != 0) {
            std::lock_guard lock(inputMutex_);
            if (!ReadInput())
                inputEnded_ = true;
        }
    }
}

void CTerminalView::HandlePosted() {
    for (const platform::PostedMessage& m : queue_.TakeAll()) {
        if (m.message == kQuitMessage) {
            quit_ = true;
            continue;
        }
        controller_->HandleMessage(m.message, m.wParam, m.lParam);
    }
}

void CTerminalView::HandleCommand(const std::string& line) {
    if (line.empty())
        return;
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string argument =
        space == std::string::npos ? std::string() : Trimmed(line.substr(space + 1));

    std::optional<Control> control;
    if (word == "start")
        control = Control::Start;
    else if (word == "stop")
        control = Control::Stop;
    else if (word == "run")
        control = Control::Run;
    else if (word == "folder")
        control = Control::FolderButton;
    else if (word == "close")
        control = Control::Close;
    if (!control) {
        Print("unknown command: " + word + "\n" + kCommandList);
        return;
    }
    if (*control == Control::FolderButton && argument.empty()) {
        Print("folder needs a path: folder PATH\n");
        return;
    }
    // A button the window shows disabled cannot be pressed here either.
    if (*control != Control::Close) {
        const auto it = enabled_.find(*control);
        if (it != enabled_.end() && !it->second) {
            Print(word + ": not available now\n");
            return;
        }
    }
    if (*control == Control::FolderButton) {
        if (argument[0] == '/') {
            typedFolder_ = argument;
        } else {
            char cwd[PATH_MAX];
            typedFolder_ = (::getcwd(cwd, sizeof cwd) ? WithSlash(cwd) : std::string()) + argument;
        }
    }
    controller_->OnCommand(*control);
    typedFolder_.reset();
}

void CTerminalView::CloseWhenNothingCanHappen() {
    // Without further input only a running download or the installer can
    // still move the flow on; otherwise the window would wait forever.
    if (!controller_->HasJob() && !controller_->Installing())
        controller_->OnCloseRequest();
}

void CTerminalView::Print(std::string_view text) {
    std::lock_guard lock(outMutex_);
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

void CTerminalView::SetTitle(std::string_view title) {
    title_ = title;
    Print("== " + std::string(title) + " ==\n");
}

void CTerminalView::EnableControl(Control control, bool enabled) {
    enabled_[control] = enabled;
}

void CTerminalView::SetChecked(Control control, bool checked) {
    checked_[control] = checked;
}

bool CTerminalView::IsChecked(Control control) const {
    const auto it = checked_.find(control);
    return it != checked_.end() && it->second;
}

void CTerminalView::Refresh(const DisplayStrings& s) {
    if (!skinShown_)
        return;
    if (s.folder != lastFolder_) {
        lastFolder_ = s.folder;
        Print("folder: " + s.folder + "\n");
    }
    if (s.notice != lastNotice_) {
        lastNotice_ = s.notice;
        if (!s.notice.empty())
            Print(s.notice + "\n");
    }
    std::string line = s.currentFile + "  " + s.received + " / " + s.total + "  " + s.speed + "  " +
                       s.elapsedTime + "  " + s.remainingTime + "  " + s.percent;
    if (line == lastLine_)
        return;
    const platform::WallTime now = platform::Clock().Now();
    if (everPrinted_ && platform::ElapsedMs(lastStatus_, now) < 1000)
        return;
    everPrinted_ = true;
    lastStatus_ = now;
    Print(line + "\n");
    lastLine_ = std::move(line);
}

void CTerminalView::ApplySkin(const UnpackedSkin& skin) {
    skinShown_ = true;
    Print("skin: " + std::to_string(skin.entries.size()) + " files in " + skin.folder + "\n" +
          kCommandList);
}

ResumeAnswer CTerminalView::RunResumeDialog() {
    ResumeAnswer answer;
    std::string first = kResumeFirstLine;
    first.replace(first.find("%s"), 2, title_);
    // The end of input answers like the Escape key: continue, for every file.
    if (Show(title_, first + "\n" + kResumeSecondLine, MessageButtons::kYesNo) ==
            MessageAnswer::kNo &&
        !inputEnded_)
        answer.resume = 0;
    return answer;
}

void CTerminalView::RunWaitDialog() {
    Print(std::string(kWaitText) + "\n");
    while (!quit_) {
        pollfd fd = {queue_.Fd(), POLLIN, 0};
        if (::poll(&fd, 1, -1) < 0 && errno != EINTR)
            break;
        if (fd.revents != 0)
            HandlePosted();
    }
}

void CTerminalView::PostToSelf(uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    queue_.Post({message, wParam, lParam});
}

void CTerminalView::PostQuit() {
    queue_.Post({kQuitMessage, 0, 0});
}

void CTerminalView::CloseWindow() {
    closed_ = true;
}

MessageAnswer CTerminalView::Show(std::string_view caption, std::string_view text,
                                  MessageButtons buttons) {
    Print("[" + std::string(caption) + "] " + std::string(text) + "\n" + Prompt(buttons));
    for (;;) {
        std::string line;
        if (WaitForLine(line) == Input::kEnd) {
            const MessageAnswer answer = EndOfInputAnswer(buttons);
            Print(answer == MessageAnswer::kOk   ? "\n"
                  : answer == MessageAnswer::kNo ? "n (end of input)\n"
                                                 : "c (end of input)\n");
            return answer;
        }
        // Typed answers echo on a terminal; a scripted one is shown here so
        // that the output reads the same.
        if (!::isatty(inputFd_))
            Print(line + "\n");
        if (const std::optional<MessageAnswer> answer = AnswerOf(line, buttons))
            return *answer;
        Print(Prompt(buttons));
    }
}

std::optional<std::string> CTerminalView::Browse(const std::string&, int64_t totalSize) {
    if (!typedFolder_)
        return std::nullopt;
    const int64_t free = FreeBytes(*typedFolder_);
    Print(ChooserStatus(totalSize, free) + "\n");
    return typedFolder_;
}

}  // namespace launcher
