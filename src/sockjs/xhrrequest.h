// The record of one raw HTTP request of the XHR transport: what is sent and
// what its response's header block said about the body.
#pragma once

#include "qstringmap.h"

#include <QObject>
#include <QString>

#include <atomic>

class XHRRequest : public QObject
{
    Q_OBJECT

public:
    /// A request for `path` whose complete text is `requestText`; takes the
    /// next number of the process-wide request counter (the first is 1).
    XHRRequest(QObject *parent, QString path, QString requestText);

    /// The request path, e.g. the session path followed by "/xhr".
    const QString &getPath() const { return path; }
    /// The complete request text as written on the socket.
    const QString &getRequestText() const { return requestText; }
    /// This request's number from the process-wide counter.
    int getRequestId() const { return requestId; }

    /// Set by the worker when the response's header block arrives; atomic
    /// because the owner may read them while the worker thread writes.
    std::atomic<bool> chunked{false};
    std::atomic<qint64> contentLength{0};
    std::atomic<int> statusCode{0};

private:
    const int requestId;
    const QString path;
    const QString requestText;
};

Q_DECLARE_METATYPE(XHRRequest *)
