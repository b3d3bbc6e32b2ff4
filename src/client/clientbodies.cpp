#include "clientbodies_p.h"

#include "jsontemplate_p.h"

#include <QJsonObject>
#include <QLocale>

#include <cmath>

namespace Veltro {

QString fillBody(const char *tmpl, const QStringList &values)
{
    return fillJsonTemplate(QString::fromLatin1(tmpl), values);
}

QString jsonText(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::String: {
        QString s = v.toString();
        if (s.isNull())
            s = QLatin1String("");
        return s;
    }
    case QJsonValue::Double: {
        const double d = v.toDouble();
        if (std::floor(d) == d && std::fabs(d) < 9007199254740992.0)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return QString();
    }
}

QString dataText(const QJsonDocument &doc, const char *key)
{
    return jsonText(doc.object().value(QLatin1String("data")).toObject().value(QLatin1String(key)));
}

} // namespace Veltro
