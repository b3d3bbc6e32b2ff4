// libFuzzer target: every REST answer handler and the failure handler's error keys on arbitrary bodies (the first
// byte picks the handler); the registration text helpers run on every body.
#include "presenterclient.h"
#include "registration_p.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

class FuzzClient : public PresenterClient
{
public:
    using PresenterClient::PresenterClient;

    void feed(uint8_t which, const QString &body)
    {
        using Handler = void (FuzzClient::*)(QString);
        static const Handler handlers[] = {
            &FuzzClient::loginSuccessResponse, &FuzzClient::getDeviceAccessTokenResponse,
            &FuzzClient::userNameResponse, &FuzzClient::sessionSuccessResponse, &FuzzClient::getCollabUrlResponse,
            &FuzzClient::getTenantFeatureDetailsResponse, &FuzzClient::sessionStartSuccessResponse,
            &FuzzClient::sessionJoinResponse, &FuzzClient::getLearnersResponse, &FuzzClient::uploadResourceResponse,
            &FuzzClient::serverCheckResponse, &FuzzClient::logoutResponse};
        const size_t n = sizeof(handlers) / sizeof(handlers[0]), pick = which % (n + 1);
        if (pick < n)
            (this->*handlers[pick])(body);
        else
            loginFailureResponse(nullptr, body);
    }
};

FuzzClient *g_client = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    quietLibraryLogging(true);
    // OAuth credentials remembered (the request itself fails at once), so
    // sign-in answers take the registration branch too.
    g_client = new FuzzClient(nullptr, QStringLiteral("unknown://service"));
    QString registration;
    g_client->doLoginWithOAuth(QStringLiteral("brightid"), QStringLiteral("code"), registration);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString body = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    g_client->feed(data[0], body);

    // The registration text is a piece of the answer, never anything else.
    const QString member = Veltro::topLevelMemberText(body, QStringLiteral("data"));
    if (!member.isNull() && !body.contains(member))
        __builtin_trap();
    // An object text stays an object, now carrying the source system.
    const QJsonDocument before = QJsonDocument::fromJson(body.toUtf8());
    if (before.isObject() && !before.object().contains(QStringLiteral("sourceSystem"))) {
        const QJsonDocument after = QJsonDocument::fromJson(Veltro::addSourceSystemMember(body).toUtf8());
        if (!after.isObject() || after.object().value(QStringLiteral("sourceSystem")).toString() != QLatin1String("Nimbra"))
            __builtin_trap();
    }
    return 0;
}
