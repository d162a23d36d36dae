#pragma once

#include <string>

// Process-wide settings of the engine path, fixed before the library's
// set-up. The manifest location comes from the build's configuration (the
// update server's address) with the manifest's path appended.
namespace tarvo {

inline constexpr char kUpdateManifestPath[] = "/ActiveX/update/QGM_updater.xml";

// The URL of the engine update manifest.
std::string UpdateManifestUrl();
// Points the engine updater at another manifest (a test's own update server).
void SetUpdateManifestUrl(const std::string& url);

// Whether the manager's set-up prepares the engine path. A host that only
// ever wants the direct path (or a test of it) turns it off before
// TarvoLib_Initialize; on by default.
bool EnginePathEnabled();
void SetEnginePathEnabled(bool enabled);

}  // namespace tarvo
