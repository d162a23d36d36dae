#pragma once

#include <cstdint>

#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/http/qvIHttpClientExLayer.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

// One HTTP GET on a fresh connection: the connection context with the HTTP
// client layer on top, as every session of the library makes it. Sessions own
// one at a time; a finished request is closed and its context handed to the
// deferred-release collector, never released directly.
class HttpRequest {
  public:
    struct Options {
        int32_t connectTimeoutSeconds = 4;
        int32_t receiveTimeoutSeconds = 4;
        int32_t actionType = 1;
        // Extra header, e.g. "Range"; none when name is null.
        const char* headerName = nullptr;
        const char* headerValue = nullptr;
    };

    HttpRequest() = default;
    ~HttpRequest() { Stop(false); }
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // Closes any running request, then starts a GET of url with listener.
    // False when the context could not be made or the URL was refused.
    bool Start(const char* url, nwIHttpClientExEventListener* listener, const Options& options);
    // Detaches the listener, closes the connection and defers its release;
    // reportFailure first marks the address failed in the host address cache.
    void Stop(bool reportFailure);
    // Like Stop, without closing: for a connection that has already closed.
    void Drop();

    bool IsRunning() const { return static_cast<bool>(context_); }
    cpCQoSContext* Context() const { return context_.Get(); }
    // The running request's HTTP layer, or nullptr.
    qvIHttpClientExLayer* Layer() const { return layer_; }

  private:
    qvSmartPtr<cpCQoSContext> context_;
    qvIHttpClientExLayer* layer_ = nullptr;
};
