// Just enough HTTP/1.1 for the cloud service's REST side: records every request, answers each with what the
// handler returns (or nothing, to answer later by hand), and can hold answers back as a slow service does.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

/// An HTTP/1.1 answer: status line, `extraHeaders` (whole lines), the body's length and the body.
QByteArray httpAnswer(int status, const QByteArray &body, const QByteArray &extraHeaders = QByteArray());

class FakeService : public QTcpServer
{
public:
    struct Request
    {
        QByteArray method, path, body;
        QMap<QByteArray, QByteArray> headers;   // names in lower case
    };

    /// Makes the answer to a POST (written at once, unless held; other methods get 405, failing the call, as the
    /// client posts every request); an empty one writes nothing. By default a success with empty data.
    std::function<QByteArray(const Request &, QTcpSocket *)> handler;
    /// Every request so far, answered or not.
    QList<Request> requests;
    /// While true, answers are kept back in the order they were made instead of written.
    bool holding = false;
    /// Connections the client has closed so far.
    int dropped = 0;

    /// Listens on 127.0.0.1, port 0.
    FakeService();

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
    QStringList paths() const;
    /// The last request to `path`, or an empty one.
    Request last(const QByteArray &path) const;
    /// Writes the first answer kept back for a request to `path` (with no path, every one, in order); false
    /// when there was none.
    bool releaseHeld(const QByteArray &path = QByteArray());
    /// How many answers are kept back now.
    int heldCount() const { return int(held.size()); }

private:
    struct Held
    {
        QPointer<QTcpSocket> socket;
        QByteArray path, answer;
    };
    void onData(QTcpSocket *s);
    QHash<QTcpSocket *, QByteArray> buffers;
    QList<Held> held;
};
