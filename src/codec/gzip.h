// Inflation of gzip- or zlib-wrapped HTTP answers. Free of I/O.
#pragma once

#include "veltroclient_export.h"

#include <QByteArray>

/// Inflates gzip- or zlib-wrapped deflate data. Returns the inflated bytes, or
/// an empty array when the input is 4 bytes or fewer, corrupt, or needs a
/// preset dictionary, or inflates to more than 64 MiB; a stream cut short
/// yields what could be inflated.
VELTROCLIENT_EXPORT QByteArray gUncompress(const QByteArray &data);
