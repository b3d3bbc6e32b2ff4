// Random identifiers (SockJS session ids, question ids).
#pragma once

#include <QString>

namespace Veltro {

/// Returns `length` characters drawn uniformly from A-Z, a-z and 0-9 by a
/// properly seeded generator, so two ids made in the same second differ.
/// A length of 0 or less gives an empty string.
QString randomString(int length);

} // namespace Veltro

using Veltro::randomString;
