// LZMA-and-Base64 text codec of event-bus payloads. Free of I/O: every
// function takes bytes or text and returns a result, so tests and fuzzers can
// call it directly.
//
// Decoders accept any properties byte liblzma supports (lc + lp <= 4) and any
// dictionary size, with or without an end marker, and refuse at once, without
// allocating, a payload declaring more than LZMA_MAX_DECODED_SIZE or more than
// its length could possibly restore to; a stream of unknown size is stopped at
// that cap. Restored texts end at their first zero byte.
#pragma once

#include "veltroclient_export.h"

#include <QString>
#include <QVariantList>

namespace Veltro {
/// Largest payload a decoder restores (16 MiB, far above any classroom
/// message); also the longest byte list accepted.
constexpr qint64 LZMA_MAX_DECODED_SIZE = qint64(16) * 1024 * 1024;
} // namespace Veltro

/// Compresses `text` (as UTF-8) into the 13-byte-header LZMA format and
/// Base64-encodes it into `*out`. Returns false and leaves `*out` untouched on failure.
VELTROCLIENT_EXPORT bool LzmaCompress64(const QString &text, QString *out);

/// Restores a text from its Base64 form. Returns false and leaves `*out`
/// untouched when the input is not a complete, valid payload.
VELTROCLIENT_EXPORT bool LzmaDecompress64(const QString &base64, QString *out);

/// Restores a text from a list of byte values (numbers; low 8 bits used, so
/// signed values -128..127 work). Returns false and leaves `*out` untouched on failure.
VELTROCLIENT_EXPORT bool LzmaDecompressList(const QVariantList &bytes, QString *out);

/// Restores a text from the payload bytes themselves (a byte list already read
/// into bytes). Returns false and leaves `*out` untouched on failure.
VELTROCLIENT_EXPORT bool LzmaDecompressBytes(const QByteArray &payload, QString *out);

/// Restores a text from a byte list written as text ("93,0,64,..." with or
/// without brackets). Returns false and leaves `*out` untouched on failure.
VELTROCLIENT_EXPORT bool LzmaDecompressText(const QString &text, QString *out);
