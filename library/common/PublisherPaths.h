#pragma once

#include <string>

// The publisher's per-user folders: <application data>/Brenholt/vrDownloader/
// holds the local engine program and, below config/, the library's log. When
// no application-data folder is known the executable's folder stands in.
std::string PublisherBaseFolder();
std::string PublisherDownloaderFolder();
