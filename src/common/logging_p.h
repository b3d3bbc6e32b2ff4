// The library's logging categories, in one place so that hosts can filter
// them ("veltro.*.debug=false"). Use qCDebug/qCWarning with these; never a
// bare qDebug(). Log texts keep the bracketed component prefixes
// ("[PresenterClient]", "[SockJSConnector]", ...). Never log a password or
// a request body that carries credentials.
#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcClient)   // veltro.client  : REST requests, sign-in, sessions, upload
Q_DECLARE_LOGGING_CATEGORY(lcSockJS)   // veltro.sockjs  : transports, XHR worker
Q_DECLARE_LOGGING_CATEGORY(lcCollab)   // veltro.collab  : event bus, dispatch, polls, assessments
Q_DECLARE_LOGGING_CATEGORY(lcModel)    // veltro.model   : data objects, JSON serializer
Q_DECLARE_LOGGING_CATEGORY(lcCodec)    // veltro.codec   : LZMA and gzip codecs
// veltro.client.verbose: off by default; when a host turns its debug output
// on, REST answers, event-bus frames and tokens are logged unmasked (for
// debugging a service).
Q_DECLARE_LOGGING_CATEGORY(lcClientVerbose)

/// `text` for a log line: its first `max` characters and its full length, so
/// that a peer's megabytes never cost megabytes again in the log.
inline QString shortenedForLog(const QString &text, int max = 1024)
{
    if (text.size() <= max)
        return text;
    return text.left(max) + QStringLiteral("... (") + QString::number(text.size()) + QStringLiteral(" characters)");
}

/// An event-bus or SockJS frame for a log line: shortened as shortenedForLog()
/// does, and, unless veltro.client.verbose is on, with the tokens it carries
/// (the values of "address", "from", "token", "userToken", "sessionToken" and
/// "deviceAccessToken") shown as "***". An address keeps its kind words:
/// "***.presenter.***", "***.user.***".
QString frameForLog(const QString &text);

/// A session, user or device token for a log line: "***" unless
/// veltro.client.verbose is on.
QString tokenForLog(const QString &token);
