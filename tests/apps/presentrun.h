// Runs the built veltro-present (VELTRO_PRESENT_PROGRAM) from a test: the password in the environment as
// asked, what it prints collected, every wait bounded.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// "" when `out` holds every one of `parts`, else the first missing one and the output.
inline QString missing(const QString &out, const QStringList &parts)
{
    for (const QString &part : parts) {
        if (!out.contains(part))
            return QStringLiteral("no \"%1\" in:\n%2").arg(part, out);
    }
    return QString();
}

// Starts the program with `args`; what it prints collects in `*output`. VELTRO_PASSWORD is `password`
// (unset when empty).
inline void startPresent(QProcess &p, QString *output, const QStringList &args, const QString &password = "veltro")
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELTRO_PASSWORD"));
    if (!password.isEmpty())
        env.insert(QStringLiteral("VELTRO_PASSWORD"), password);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&p, &QProcess::readyReadStandardOutput, &p,
                     [&p, output] { *output += QString::fromUtf8(p.readAllStandardOutput()); });
    p.start(QStringLiteral(VELTRO_PRESENT_PROGRAM), args);
}

// Waits for the end (bounded: the program's own waits are given small limits) and returns the exit code;
// -1 when it did not start or end.
inline int finishPresent(QProcess &p)
{
    if (p.waitForFinished(120000))
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    p.kill();
    p.waitForFinished(5000);
    return -1;
}

inline int runPresent(const QStringList &args, QString *output, const QString &password = "veltro")
{
    QProcess p;
    startPresent(p, output, args, password);
    return finishPresent(p);
}
