// Debug lines of every category are off unless a host turns them on
// (QT_LOGGING_RULES="veltro.*.debug=true"); warnings always show.
#include "logging_p.h"

#include <QRegularExpression>
#include <QStringList>

Q_LOGGING_CATEGORY(lcClient, "veltro.client", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSockJS, "veltro.sockjs", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCollab, "veltro.collab", QtInfoMsg)
Q_LOGGING_CATEGORY(lcModel, "veltro.model", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCodec, "veltro.codec", QtInfoMsg)
Q_LOGGING_CATEGORY(lcClientVerbose, "veltro.client.verbose", QtInfoMsg)

QString tokenForLog(const QString &token)
{
    return lcClientVerbose().isDebugEnabled() ? token : QStringLiteral("***");
}

QString frameForLog(const QString &text)
{
    const QString shortened = shortenedForLog(text);
    if (lcClientVerbose().isDebugEnabled())
        return shortened;
    // A SockJS "a" frame holds event-bus frames as JSON strings, so their
    // quotes may come escaped.
    static const QRegularExpression member(QStringLiteral(
        R"re(((?:\\)?"(address|from|token|userToken|sessionToken|deviceAccessToken)(?:\\)?"\s*:\s*(?:\\)?")([^"\\]*))re"));
    static const QStringList kinds{QStringLiteral("presenter"), QStringLiteral("user"), QStringLiteral("learner"),
                                   QStringLiteral("controller")};
    QString out;
    out.reserve(shortened.size());
    qsizetype last = 0;
    auto it = member.globalMatch(shortened);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(shortened).mid(last, m.capturedStart(3) - last);
        QStringList parts = m.captured(3).split(QLatin1Char('.'));
        for (QString &part : parts) {
            if (!part.isEmpty() && !kinds.contains(part))
                part = QStringLiteral("***");
        }
        out += parts.join(QLatin1Char('.'));
        last = m.capturedEnd(3);
    }
    out += QStringView(shortened).mid(last);
    return out;
}
