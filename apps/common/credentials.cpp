#include "credentials.h"

#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

const qint64 kMaxPasswordFile = 4096;

// The terminal's settings while echo is off, put back should the prompt be
// interrupted, so that the shell is not left without echo.
termios savedTerminal;

void restoreTerminalAndDie(int sig)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

PasswordChoice choosePassword(const QString &argument, const QString &file, const QByteArray &environment,
                              bool terminal)
{
    PasswordChoice c;
    if (!file.isEmpty() && !argument.isNull()) {
        c.error = QStringLiteral("give the password either with --password-file or with --password, not both");
        return c;
    }
    if (!file.isEmpty()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            c.error = QStringLiteral("--password-file: cannot read \"%1\" (%2)").arg(file, f.errorString());
            return c;
        }
        const QByteArray head = f.read(kMaxPasswordFile);
        const int end = head.indexOf('\n');
        QByteArray line = end < 0 ? head : head.left(end);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty()) {
            c.error = QStringLiteral("--password-file: \"%1\" holds no password on its first line").arg(file);
            return c;
        }
        c.source = PasswordChoice::File;
        c.password = QString::fromUtf8(line);
        if (QFileInfo(file).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther))
            c.warning = QStringLiteral("other users can read the password file \"%1\" (chmod 600 it)").arg(file);
        return c;
    }
    if (!argument.isNull()) {
        c.source = PasswordChoice::Argument;
        c.password = argument;
        c.warning = QStringLiteral("a password given with --password can be read by every user of this machine "
                                   "in the process list; use VELTRO_PASSWORD, --password-file or the prompt");
        return c;
    }
    if (!environment.isEmpty()) {
        c.source = PasswordChoice::Environment;
        c.password = QString::fromUtf8(environment);
        return c;
    }
    if (terminal)
        c.source = PasswordChoice::Prompt;
    return c;
}

QString promptPassword(const QString &prompt)
{
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    const bool tty = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    struct sigaction quiet {}, oldInt {}, oldTerm {};
    if (tty) {
        quiet.sa_handler = restoreTerminalAndDie;
        sigemptyset(&quiet.sa_mask);
        sigaction(SIGINT, &quiet, &oldInt);
        sigaction(SIGTERM, &quiet, &oldTerm);
        termios noEcho = savedTerminal;
        noEcho.c_lflag &= ~tcflag_t(ECHO);
        noEcho.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &noEcho);
    }
    std::string line;
    const bool ok = bool(std::getline(std::cin, line));
    if (tty) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
    }
    if (!ok)
        return QString();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}
