#pragma once

// The launcher's built-in pictures, compiled in with Qt's resource system
// (launcher/resources/launcher.qrc).

namespace launcher {

// The wait dialog's animation: 64x64, 12 frames.
inline constexpr char kWaitAnimation[] = ":/launcher/nowloading.gif";
// The agreement panel's data-collection notice: 592x447, 24 bits.
inline constexpr char kAgreementPicture[] = ":/launcher/agreement.png";

// Makes the pictures reachable under ":/launcher/". The resources live in a
// static library, so a program must ask for them once before use; calling
// again does nothing.
void EnsureBuiltinResources();

}  // namespace launcher
