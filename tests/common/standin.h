// The stand-in service (sim/server.js): the CTest fixture's (ready line in the file VELTRO_SIM_INFO names) or a
// private one, for switches that must not disturb other tests and for the benchmarks. Every call is bounded in
// time; the waits turn the event loop (control calls) or block on the process (start), never QtTest's.
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
    /// A private service started with `args` (beyond --port 0); null when it did not become ready.
    static std::unique_ptr<StandIn> launch(const QStringList &args = {}, int timeoutMs = 20000);

    ~StandIn();

    /// The ready line; the REST base address; the SockJS echo endpoint.
    QJsonObject info() const { return m_info; }
    QString server() const { return m_info.value(QStringLiteral("server")).toString(); }
    QString echoUrl() const { return m_info.value(QStringLiteral("echo")).toString(); }

    /// Calls the control interface (`body` as JSON for POST); the answer, or a null document on an error or
    /// a timeout (`*status` receives the HTTP status, 0 when there was none).
    QJsonDocument control(const QByteArray &method, const QString &path,
                          const QJsonObject &body = {}, int timeoutMs = 15000,
                          int *status = nullptr) const;

    /// Joins `count` learners (`extra`: "shape", "answerDelay", "names"...); their records, empty on failure.
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
    /// Starts a launched service again after kill(), on its port; false when it did not become ready.
    bool relaunch(int timeoutMs = 20000);

private:
    StandIn() = default;
    bool start(const QStringList &args, int timeoutMs);
    QJsonObject m_info;
    QStringList m_args;
    std::unique_ptr<QProcess> m_process;
};
