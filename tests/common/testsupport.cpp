#include "testsupport.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QTcpServer>

QString sourcePath(const QString &relative)
{
    QString root = qEnvironmentVariable("VELTRO_SOURCE_DIR");
    if (root.isEmpty())
        root = QStringLiteral(VELTRO_SOURCE_DIR_FALLBACK);
    return root + QLatin1Char('/') + relative;
}

QString nodeProgram()
{
    return QStringLiteral(VELTRO_NODE);
}

quint16 closedPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

void quietLibraryLogging(bool warningsToo)
{
    QLoggingCategory::setFilterRules(warningsToo ? QStringLiteral("veltro.*.debug=false\nveltro.*.warning=false")
                                                 : QStringLiteral("veltro.*.debug=false"));
}
