#pragma once

#include <string>

// Shorthands for the publisher folders of CGetPath_Brenholt, for the callers
// that only need the text (the log).
std::string PublisherBaseFolder();
std::string PublisherDownloaderFolder();
