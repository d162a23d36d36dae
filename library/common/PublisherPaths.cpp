#include "library/common/PublisherPaths.h"

#include "library/common/CGetPath_Brenholt.h"

std::string PublisherBaseFolder() {
    return CGetPath_Brenholt::Instance().BaseFolder();
}

std::string PublisherDownloaderFolder() {
    return CGetPath_Brenholt::Instance().EngineFolder();
}
