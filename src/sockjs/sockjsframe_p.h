// Reading and writing SockJS frames, free of I/O so that tests and fuzzers
// can feed it texts directly.
#pragma once

#include <QString>
#include <QStringList>

namespace Veltro {

struct SockJSFrame
{
    enum Type {
        Unknown,    ///< anything else; ignored by the connector
        Open,       ///< "o": the session is up
        Heartbeat,  ///< "h" (also the 2048-character "h" prelude of a stream)
        Messages,   ///< "a" followed by a JSON array of strings
        Close       ///< "c" followed by a JSON array [code, reason]
    };
    Type type = Unknown;
    QStringList messages;   ///< Messages: the array's elements in order
    int closeCode = 0;      ///< Close: the code, 0 when absent or unreadable
    QString closeReason;    ///< Close: the reason text

    /// Reads one frame text. An "a" frame whose JSON does not parse as an
    /// array gives Messages with no elements; elements that are not strings
    /// are dropped (with a debug line).
    static SockJSFrame read(const QString &text);

    /// The text sent for one outgoing message: a JSON array holding the
    /// message as a string, in the indented layout ("[\n    \"...\"\n]\n").
    /// The message is carried unchanged, whatever characters it holds.
    static QString encode(const QString &message);
};

} // namespace Veltro
