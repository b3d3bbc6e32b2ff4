#include "randomstring.h"

#include <QRandomGenerator>

namespace Veltro {

QString randomString(int length)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    if (length <= 0)
        return QString();
    QString out(length, Qt::Uninitialized);
    // The global generator is seeded from the system's entropy source and is thread-safe.
    QRandomGenerator *rng = QRandomGenerator::global();
    for (int i = 0; i < length; ++i)
        out[i] = QLatin1Char(alphabet[rng->bounded(62)]);
    return out;
}

} // namespace Veltro
