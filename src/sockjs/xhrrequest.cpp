#include "xhrrequest.h"

namespace {
std::atomic<int> requestCounter{0};
}

XHRRequest::XHRRequest(QObject *parent, QString path, QString requestText)
    : QObject(parent)
    , requestId(++requestCounter)
    , path(std::move(path))
    , requestText(std::move(requestText))
{
}
