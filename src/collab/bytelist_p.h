// The byte-list payload of an incoming event-bus frame, read straight from
// the frame's text: a list of millions of byte values would otherwise become
// a JSON document of millions of values first. Free of I/O, so tests and
// fuzzers can feed it texts.
#pragma once

#include <QByteArray>
#include <QString>

class QJsonArray;

namespace Veltro {

/// When the frame text `frame` is a JSON object whose "body" member (the last
/// one, as JSON readers take it) is an object whose "data" member (likewise)
/// is a non-empty array whose first element is not a string, stores the low 8
/// bits of each element's integer value in `*bytes` (numbers truncated toward
/// zero, numeric texts parsed, true 1, anything else 0; empty, with
/// `*tooLong` set, when there are more than `maxBytes` elements), stores in
/// `*rest` the frame with that array replaced by null, and returns true.
/// Returns false, touching nothing, otherwise, and whenever the frame is not
/// valid JSON up to the end of that array.
bool takeByteList(const QString &frame, qint64 maxBytes, QString *rest, QByteArray *bytes, bool *tooLong);

/// The same bytes from an array already parsed (empty, with `*tooLong` set,
/// beyond `maxBytes` elements).
QByteArray byteListOf(const QJsonArray &array, qint64 maxBytes, bool *tooLong);

} // namespace Veltro
