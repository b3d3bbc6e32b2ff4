// A host whose client is a child of its application object and which quits
// as soon as its live connection is up: it must exit at once, and the
// session must end. Prints the session code when connected.
#include "presenterclient.h"
#include "presentercollab.h"
#include "presenterreply.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    auto *client = new PresenterClient(&app, QString::fromLocal8Bit(argv[1]));
    if (!client->doLogin(QStringLiteral("teacher"), QStringLiteral("veltro")) || !client->doStartSession())
        return 3;
    PresenterReply *reply = client->startCollab();
    QObject::connect(reply, &PresenterReply::finished, &app, [&app, client, reply] {
        if (!reply->collab())
            return app.exit(4);
        QObject::connect(reply->collab(), &PresenterCollab::connected, &app, [&app, client] {
            std::printf("%s\n", qPrintable(client->getSessionCode()));
            std::fflush(stdout);
            app.quit();
        });
    });
    return app.exec();
}
