#include "library/sessions/HttpRequest.h"

#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/object/qvCGarbageCollector.h"
#include "ostra/norvikqos/object/qvClassFactory.h"

bool HttpRequest::Start(const char* url, nwIHttpClientExEventListener* listener,
                        const Options& options) {
    Stop(false);
    qvSmartPtr<cpCQoSContext> context;
    if (!context.CreateInstance(qvClassId::kQoSContext))
        return false;
    context_ = context;
    context->Initialize(options.actionType, qvWatch::kConnectFailed | qvWatch::kReceiveTimeout,
                        nullptr);
    context->SetTimeout(qvTimeoutKind::kConnect, &options.connectTimeoutSeconds);
    context->SetTimeout(qvTimeoutKind::kReceive, &options.receiveTimeoutSeconds);
    if (qv::Failed(context->PushLayer(qvClassId::kHttpClientExLayer, false)))
        return false;
    qvSmartPtr<> top = context->GetTopLayer();
    layer_ = dynamic_cast<qvIHttpClientExLayer*>(top.Get());
    if (!layer_)
        return false;
    layer_->SetEventListener(listener, 0);
    if (qv::Failed(layer_->Open(url)))
        return false;
    if (options.headerName)
        layer_->SetRequestHeader(options.headerName, options.headerValue);
    layer_->SendGet();
    return true;
}

void HttpRequest::Stop(bool reportFailure) {
    if (!context_)
        return;
    qvSmartPtr<cpCQoSContext> context = std::move(context_);
    context_.Reset();
    if (reportFailure)
        context->ReportAddressFailed();
    if (layer_)
        layer_->SetEventListener(nullptr, 0);
    layer_ = nullptr;
    context->Close();
    qvCGarbageCollector::Instance().Defer(qvSmartPtr<>(static_cast<qvIUnknown*>(context.Get())));
}

void HttpRequest::Drop() {
    if (!context_)
        return;
    qvSmartPtr<cpCQoSContext> context = std::move(context_);
    context_.Reset();
    if (layer_)
        layer_->SetEventListener(nullptr, 0);
    layer_ = nullptr;
    qvCGarbageCollector::Instance().Defer(qvSmartPtr<>(static_cast<qvIUnknown*>(context.Get())));
}
