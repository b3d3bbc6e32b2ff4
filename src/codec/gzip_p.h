// Internals of gzip inflation. Not installed.
#pragma once

#include <QByteArray>

namespace Veltro {

/// Largest answer gUncompress inflates; a body that inflates to more is
/// refused (a few KiB of gzip can expand to gigabytes).
constexpr qint64 GZIP_MAX_INFLATED_SIZE = qint64(64) * 1024 * 1024;

/// gUncompress with an explicit limit on the inflated size: empty result when
/// the data would inflate to more than `limit` bytes (then `*tooLarge` is set).
QByteArray gUncompressLimited(const QByteArray &data, qint64 limit, bool *tooLarge = nullptr);

} // namespace Veltro
