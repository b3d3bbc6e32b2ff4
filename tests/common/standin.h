// Test access to the local stand-in classroom service (sim/server.js).
//
// StandIn::shared() reads the ready line of the service that the CTest
// fixture "standin" started (file named by VELTRO_SIM_INFO).
// StandIn::launch(args) starts a private instance (for switches such as
// --tls that must not disturb other tests) and stops it on destruction.
// Every call is bounded in time.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

class StandIn
{
public:
    /// The fixture's service, or null (with a QWARN) when the fixture is not running.
    static StandIn *shared();
    /// A private service started with `args` (beyond --port 0); null when it did not
    /// become ready within `timeoutMs`.
    static std::unique_ptr<StandIn> launch(const QStringList &args = {}, int timeoutMs = 20000);

    ~StandIn();

    /// The ready line as printed by the service.
    QJsonObject info() const { return m_info; }
    /// Base address to give PresenterClient ("http://127.0.0.1:PORT").
    QString server() const { return m_info.value(QStringLiteral("server")).toString(); }
    /// Collaboration URL of the event bus, and of the echo endpoint.
    QString collabUrl() const { return m_info.value(QStringLiteral("collab")).toString(); }
    QString echoUrl() const { return m_info.value(QStringLiteral("echo")).toString(); }
    /// Root of the control interface.
    QString controlUrl() const { return m_info.value(QStringLiteral("control")).toString(); }

    /// Calls the control interface: `method` "GET" or "POST" on controlUrl() + `path`,
    /// with `body` as JSON for POST. Returns the parsed JSON answer, or a null
    /// document on a transport error, an HTTP error or a timeout (`*status`
    /// receives the HTTP status, 0 when there was none).
    QJsonDocument control(const QByteArray &method, const QString &path,
                          const QJsonObject &body = {}, int timeoutMs = 15000,
                          int *status = nullptr) const;

    /// Shortcuts for common control calls (sim/README.md), each bounded like control().
    /// Joins `count` learners to a running session and returns their
    /// [{"token","name","deviceType","transport"}], empty on failure; `extra`
    /// adds members such as "shape", "answerDelay" or "names".
    QJsonArray addLearners(const QString &sessionCode, int count,
                           const QString &transport = QStringLiteral("websocket"),
                           const QJsonObject &extra = {}) const;
    /// Every message the device with `token` received ("records"), empty on failure.
    QJsonArray records(const QString &token) const;
    /// Sets REST switches; false when the service refused them.
    bool setSwitches(const QJsonObject &switches) const;
    /// Switches, counters and records back to their start values.
    bool reset() const;

    /// Kills a launched service at once, as a crash would; no-op for the shared one.
    void kill();
    /// Starts a launched service again after kill(), with its arguments and on
    /// its port; false when it did not become ready within `timeoutMs`.
    bool relaunch(int timeoutMs = 20000);

    /// Path of a file under the source tree.
    static QString sourcePath(const QString &relative);

private:
    StandIn() = default;
    bool start(const QStringList &args, int timeoutMs);
    QJsonObject m_info;
    QStringList m_args;
    std::unique_ptr<QProcess> m_process;
};
