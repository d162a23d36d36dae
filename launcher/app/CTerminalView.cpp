#include "launcher/app/CTerminalView.h"

#include "launcher/core/DiskSpace.h"
#include "launcher/core/FolderChooser.h"
#include "launcher/core/FolderRules.h"
#include "platform/StreamInput.h"
#include "platform/WorkingFolder.h"

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
// At most one status line in this time.
constexpr int64_t kStatusIntervalMs = 1000;

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
    : inputFd_(inputFd), out_(out), uiThread_(std::this_thread::get_id()) {
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
        platform::WaitItem items[2] = {{queue_.Fd()}, {inputFd_}};
        const platform::WaitResult waited =
            platform::WaitReadable(items, inputEnded_ ? 1 : 2, MsUntilStatusDue());
        if (waited == platform::WaitResult::kFailed)
            break;
        PrintDueStatus();
        if (items[0].ready)
            HandlePosted();
        if (!inputEnded_ && items[1].ready) {
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
    // A descriptor that cannot be read ends the input like its end does.
    return platform::ReadAvailable(inputFd_, pending_) != platform::ReadResult::kEnd;
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
        platform::WaitItem items[2] = {{inputFd_}, {queue_.Fd()}};
        const platform::WaitResult waited =
            platform::WaitReadable(items, ui ? 2 : 1, ui ? MsUntilStatusDue() : -1);
        if (waited == platform::WaitResult::kFailed) {
            std::lock_guard lock(inputMutex_);
            inputEnded_ = true;
            continue;
        }
        if (ui)
            PrintDueStatus();
        if (ui && items[1].ready)
            HandlePosted();
        if (items[0].ready) {
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
        typedFolder_ = argument[0] == '/' ? argument : platform::WorkingFolder() + argument;
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
    std::string line = StatusLine(s);
    dueLine_.clear();
    if (line == lastLine_)
        return;
    // Within the second the newest state waits for it to be up; it is never
    // dropped.
    if (MsUntilNextStatus() > 0) {
        dueLine_ = std::move(line);
        return;
    }
    PrintStatus(std::move(line));
}

std::string CTerminalView::StatusLine(const DisplayStrings& s) {
    return s.currentFile + "  " + s.received + " / " + s.total + "  " + s.speed + "  " +
           s.elapsedTime + "  " + s.remainingTime + "  " + s.percent;
}

int64_t CTerminalView::MsUntilNextStatus() const {
    if (!everPrinted_)
        return 0;
    const int64_t elapsed = platform::ElapsedMs(lastStatus_, platform::Clock().Now());
    // A clock set back does not hold the line for longer than a second.
    if (elapsed < 0)
        return 0;
    return elapsed < kStatusIntervalMs ? kStatusIntervalMs - elapsed : 0;
}

void CTerminalView::PrintStatus(std::string line) {
    everPrinted_ = true;
    lastStatus_ = platform::Clock().Now();
    dueLine_.clear();
    Print(line + "\n");
    lastLine_ = std::move(line);
}

int CTerminalView::MsUntilStatusDue() const {
    if (dueLine_.empty())
        return -1;
    return static_cast<int>(MsUntilNextStatus());
}

void CTerminalView::PrintDueStatus() {
    if (!dueLine_.empty() && MsUntilNextStatus() == 0)
        PrintStatus(std::move(dueLine_));
}

void CTerminalView::PrintNewestStatus() {
    if (!skinShown_ || !OnUiThread())
        return;
    // The controller may have changed its strings and posted the refresh
    // that shows them only after this question.
    std::string line =
        controller_->SkinApplied() ? StatusLine(controller_->Strings()) : std::move(dueLine_);
    dueLine_.clear();
    if (!line.empty() && line != lastLine_)
        PrintStatus(std::move(line));
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
        platform::WaitItem item{queue_.Fd()};
        if (platform::WaitReadable(&item, 1, MsUntilStatusDue()) == platform::WaitResult::kFailed)
            break;
        PrintDueStatus();
        if (item.ready)
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
    // The user answers on what the screen shows last: the newest state.
    PrintNewestStatus();
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
        if (!platform::IsTerminal(inputFd_))
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
