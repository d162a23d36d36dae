#pragma once

// What the main window's tests share: the demo skin package made by the
// project's skin maker, and message boxes answered by a script.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "launcher/core/IDownloaderView.h"
#include "launcher/core/IMessageBox.h"

namespace windowtest {

// Makes the demo skin package with tvx-skin-maker below folder, leaving the
// named pictures out; the package's bytes, empty when the tool failed (why
// tells the reason).
std::string MakeSkinPackage(const std::string& folder, const std::vector<std::string>& without,
                            std::string& why);

// The package unpacked into its own skin folder below tempFolder, as the
// controller would hand it to the view.
launcher::UnpackedSkin UnpackForTest(const std::string& package, const std::string& tempFolder);

struct ShownBox {
    std::string caption;
    std::string text;
    launcher::MessageButtons buttons;
};

// Records every box and answers it: by the hook when one is set for the
// text, else OK, No or Cancel.
class ScriptedBoxes final : public launcher::IMessageBox {
  public:
    using Hook = std::function<launcher::MessageAnswer(const ShownBox&)>;

    void On(std::string text, Hook hook);
    launcher::MessageAnswer Show(std::string_view caption, std::string_view text,
                                 launcher::MessageButtons buttons) override;
    std::vector<ShownBox> Shown() const;
    std::string Texts() const;

  private:
    mutable std::mutex mutex_;
    std::vector<ShownBox> shown_;
    std::vector<std::pair<std::string, Hook>> hooks_;
};

}  // namespace windowtest
