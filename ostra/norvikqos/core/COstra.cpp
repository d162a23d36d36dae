#include "ostra/norvikqos/core/COstra.h"

#include <array>
#include <cstdio>

#include "ostra/norvikqos/Lib_SSL/COpenSSL.h"
#include "ostra/norvikqos/core/cpCQoS.h"
#include "ostra/norvikqos/core/cpCTimerManager.h"
#include "ostra/norvikqos/core/cpSocketOps.h"
#include "ostra/norvikqos/http/nwCHttpMimeTypeMap.h"
#include "ostra/norvikqos/object/qvCGarbageCollector.h"
#include "tvx/TrustedCertificates.h"

namespace {

COstra::LogSink gLogSink = nullptr;

// The certificates this build trusts besides the system's store, from the
// build's TVX_TRUSTED_CERT_FILE (and, in a build with tests, the tests' CA).
constexpr auto kBuiltinCertificates = [] {
    std::array<COstra::BuiltinCertificate, tvx::config::kTrustedCertificates.size()> table{};
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = {tvx::config::kTrustedCertificates[i].name,
                    tvx::config::kTrustedCertificates[i].pem};
    return table;
}();

}  // namespace

void COstra::SetLogSink(LogSink sink) {
    gLogSink = sink;
}

void COstra::Log(const char* line) {
    if (gLogSink && line)
        gLogSink(line);
}

size_t COstra::AddTrustedCertificates(const BuiltinCertificate* table, size_t count) {
    size_t added = 0;
    for (size_t i = 0; table && i < count; ++i) {
        if (qv::Failed(COpenSSL::AddTrustedCertificate(table[i].name, table[i].pem)))
            continue;
        ++added;
        // The log ends the line itself.
        char line[320];
        std::snprintf(line, sizeof line, "Add Certificate Ok - %s", table[i].name);
        Log(line);
    }
    return added;
}

COstra::COstra(qvSmartPtr<cpCMutex> lock, platform::EventLoop* loop) : lock_(std::move(lock)) {
    // TLS first: nothing below may open a secure connection before it is ready.
    COpenSSL::Startup();
    cpSock::NetworkStart();  // its result is not needed: later socket calls fail on their own
    timers_ = std::make_unique<cpCTimerManager>(lock_, loop);
    qos_ = std::make_unique<cpCQoS>(lock_, loop);
    collector_ = std::make_unique<qvCGarbageCollector>();
    qvCGarbageCollector::SetInstance(collector_.get());
    GetMimeTypeMap();  // made now, on the worker thread, not on first POST
    AddTrustedCertificates(kBuiltinCertificates.data(), kBuiltinCertificates.size());
}

COstra::~COstra() {
    // The map is process-wide; emptying it stands for deleting it, so that a
    // later start begins with no registered types.
    GetMimeTypeMap().Clear();
    qvCGarbageCollector::SetInstance(nullptr);
    collector_.reset();
    qos_.reset();
    timers_.reset();
}

qvResult COstra::StartResult() const {
    return qos_ && qos_->IsReady() ? qv::kOk : qv::kFail;
}

void COstra::Stop() {
    cpSock::NetworkStop();
    COpenSSL::Cleanup();
}
