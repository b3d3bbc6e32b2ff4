// The request bodies PresenterClient sends and the readers of its answers'
// members, shared by its rooms. Not installed.
#pragma once

#include <QJsonDocument>
#include <QJsonValue>
#include <QString>
#include <QStringList>

namespace Veltro {

// Request bodies. Values go in through fillBody only.
constexpr char PASSWORD_LOGIN[] = R"({"userId":"%0","password":"%1","sourceSystem":"Nimbra"})";
constexpr char DEVICE_LOGIN[] =
    R"({"userId":"%0","deviceId":"%1","deviceAccessToken":"%2","sourceSystem":"Nimbra"})";
constexpr char OAUTH_LOGIN[] = R"({"code":"%0","callbackUrl":"%1","sourceSystem":"Nimbra"})";
constexpr char ACCESS_TOKEN[] =
    R"({"userId":"%0","password":"%1","deviceId":"%2","deviceName":"%3","sourceSystem":"Nimbra"})";
constexpr char OAUTH_ACCESS_TOKEN[] =
    R"({"code":"%0","callbackUrl":"%1","deviceId":"%2","deviceName":"%3","sourceSystem":"Nimbra"})";
constexpr char SESSION_START[] =
    R"({"sessionCode": "%0","serverUrl":"%1","sourceSystem":"Nimbra","version":"%2"})";
constexpr char PRESENTER_JOIN[] =
    R"({"userName":"SessionStarter","sessionCode":"%0","mode":"presenter","deviceName":"%1_SessionStarter","deviceType":"presenter"})";
constexpr char SESSION_TOKEN_BODY[] = R"({"sessionToken":"%0"})";
constexpr char EMPTY_OBJECT[] = "{}";

/// `tmpl` with its placeholders filled, each value JSON-escaped.
QString fillBody(const char *tmpl, const QStringList &values);
/// A member value as text: strings as they are (an empty string stays
/// non-null), numbers in their shortest decimal form, booleans as
/// "true"/"false", anything else (absent, null, object, array) null.
QString jsonText(const QJsonValue &v);
/// Text of member `key` inside the answer's "data" object.
QString dataText(const QJsonDocument &doc, const char *key);

} // namespace Veltro
