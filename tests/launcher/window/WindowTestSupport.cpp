#include "window/WindowTestSupport.h"

#include <cstdlib>

#include "launcher/core/SkinPackage.h"
#include "support/TempDir.h"

namespace windowtest {

std::string MakeSkinPackage(const std::string& folder, const std::vector<std::string>& without,
                            std::string& why) {
#ifndef TVX_SKIN_MAKER
    why = "this build has no skin maker";
    return {};
#else
    std::string command = std::string(TVX_SKIN_MAKER) + " --out '" + folder + "'";
    for (const std::string& name : without)
        command += " --without " + name;
    if (std::system((command + " >/dev/null").c_str()) != 0) {
        why = "the skin maker failed: " + command;
        return {};
    }
    std::string bytes = tvxtest::ReadFile(folder + "/img.zip");
    if (bytes.empty())
        why = "the skin maker wrote no package";
    return bytes;
#endif
}

launcher::UnpackedSkin UnpackForTest(const std::string& package, const std::string& tempFolder) {
    return launcher::UnpackSkinPackage(package.data(), static_cast<int64_t>(package.size()),
                                       tempFolder, "halvard2");
}

void ScriptedBoxes::On(std::string text, Hook hook) {
    std::lock_guard lock(mutex_);
    hooks_.emplace_back(std::move(text), std::move(hook));
}

launcher::MessageAnswer ScriptedBoxes::Show(std::string_view caption, std::string_view text,
                                            launcher::MessageButtons buttons) {
    ShownBox box{std::string(caption), std::string(text), buttons};
    Hook hook;
    {
        std::lock_guard lock(mutex_);
        shown_.push_back(box);
        for (const auto& [wanted, h] : hooks_) {
            if (wanted == box.text)
                hook = h;
        }
    }
    if (hook)
        return hook(box);
    switch (buttons) {
        case launcher::MessageButtons::kYesNo:
            return launcher::MessageAnswer::kNo;
        case launcher::MessageButtons::kRetryCancel:
            return launcher::MessageAnswer::kCancel;
        case launcher::MessageButtons::kOk:
            break;
    }
    return launcher::MessageAnswer::kOk;
}

std::vector<ShownBox> ScriptedBoxes::Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

std::string ScriptedBoxes::Texts() const {
    std::string all;
    for (const ShownBox& box : Shown())
        all += "[" + box.text + "] ";
    return all;
}

}  // namespace windowtest
