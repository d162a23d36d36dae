#pragma once

// The launcher's modal message boxes, as the rules and the controller see them.
// The Qt window and the terminal view each provide one; tests record the calls.

#include <string_view>

namespace launcher {

enum class MessageButtons { kOk, kYesNo, kRetryCancel };
enum class MessageAnswer { kOk, kYes, kNo, kRetry, kCancel };

class IMessageBox {
  public:
    virtual ~IMessageBox() = default;
    // Shows text under caption and returns the pressed button once the box is
    // closed. Boxes shown from rules that run off the user-interface thread
    // (the installer launch) have no owner window; the implementation must
    // accept a call from any thread.
    virtual MessageAnswer Show(std::string_view caption, std::string_view text,
                               MessageButtons buttons) = 0;
};

}  // namespace launcher
