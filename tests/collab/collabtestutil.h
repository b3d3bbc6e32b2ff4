// Shared helpers of the collaboration tests: a PresenterCollab whose
// transport is replaced by a frame recorder, and payload encoders/decoders.
#pragma once

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <limits>

#include "lzmacodec.h"
#include "presentercollab.h"
#include "presentercollab_p.h"
#include "testdata.h"

struct SentFrame
{
    QString text;
    bool ping;
};

inline QJsonObject parsed(const QString &text) { return QJsonDocument::fromJson(text.toUtf8()).object(); }

// The value at a dotted path ("body.data.0": numbers index arrays).
inline QJsonValue jat(QJsonValue v, const QString &path)
{
    for (const QString &key : path.split(QLatin1Char('.')))
        v = v.isArray() ? v.toArray().at(key.toInt()) : v.toObject().value(key);
    return v;
}
inline QString jstr(const QJsonValue &v, const QString &path) { return jat(v, path).toString(); }

// The text carried by a published body's "data": the restored one-element list.
inline QString restoredText(const QJsonObject &frame)
{
    const QJsonArray data = jat(frame, QStringLiteral("body.data")).toArray();
    QString out;
    if (data.size() == 1)
        LzmaDecompress64(data.at(0).toString(), &out);
    return out;
}

inline QString compress64(const QString &text)
{
    QString out;
    LzmaCompress64(text, &out);
    return out;
}

// The frame of a publish with `data` as its payload, from the test's user "U1".
inline QString envelopeText(const QString &address, const QString &type, const QString &data)
{
    return QStringLiteral(R"({"type":"publish","address":"%1","body":{"from":"U1","type":"%2","data":["%3"]}})")
        .arg(address, type, compress64(data));
}

// Delivers what the object posted for the event loop (its signals after a call of the host).
inline void settle() { QCoreApplication::sendPostedEvents(); }

// The frame the server delivers back to a connection registered where `sent` was published (its body re-encoded).
inline QString echoOf(const QString &sent)
{
    return QString::fromUtf8(QJsonDocument(parsed(sent)).toJson(QJsonDocument::Compact));
}

// Captures every frame handed to the transport and fakes its state. The record lives in the transport, which the
// base class owns, so what the base sends while it is destroyed is recorded safely.
class RecordingCollab : public PresenterCollab
{
    struct Transport : CollabTransport
    {
        QList<SentFrame> frames, *alsoTo = nullptr;
        bool connected = true;
        int closes = 0;
        QList<QList<int>> opens;
        void open(const QUrl &, const QList<int> &protocols) override { opens << protocols; }
        void send(const QString &frame, bool bIsPing) override
        {
            frames.append({frame, bIsPing});
            if (alsoTo)
                alsoTo->append({frame, bIsPing});
        }
        bool isConnected() const override { return connected; }
        void close() override
        {
            ++closes;
            if (alsoTo)
                alsoTo->append({QStringLiteral("(closed)"), false});
        }
        void setDeadLinkLimit(int) override {}
        Veltro::Error error() const override { return reason; }
        QString errorString() const override { return reasonText; }
        void closeNow(const QString &lastFrame) override
        {
            if (connected && !lastFrame.isEmpty())
                send(lastFrame, false);
            close();
        }
        void setNetworkHub(Veltro::NetworkHub *h) override { hub = h; }
        Veltro::Error reason = Veltro::Error::None;
        QString reasonText;
        Veltro::NetworkHub *hub = nullptr;
    };
    Transport *t = new Transport;

public:
    explicit RecordingCollab(const QString &sessionToken = QStringLiteral("S1"),
                             const QString &userToken = QStringLiteral("U1"))
        : PresenterCollab(nullptr, QStringLiteral("http://127.0.0.1:9/collab"), QStringLiteral("123456"),
                          sessionToken, userToken)
    {
        priv()->setTransport(std::unique_ptr<CollabTransport>(t));
        // Frames are there as soon as a publish returns; tests of the order
        // across background compressions set a threshold themselves.
        priv()->setBackgroundThreshold(std::numeric_limits<int>::max());
    }

    QList<SentFrame> &frames = t->frames;
    bool &fakeConnected = t->connected;
    int &transportCloses = t->closes;
    QList<QList<int>> &opens = t->opens;
    QList<SentFrame> *&alsoTo = t->alsoTo; // outlives the object: what it sent, then "(closed)"
    Veltro::Error &reason = t->reason;     // what the transport says about its last failure
    QString &reasonText = t->reasonText;
    Veltro::NetworkHub *&hub = t->hub;

    using PresenterCollab::onClosed;
    using PresenterCollab::onConnected;
    PresenterCollabPrivate *priv() { return PresenterCollabPrivate::get(this); }

    /// Opens and comes up (its signals delivered); the registration frames are not kept.
    void up(const QStringList &protocols = {})
    {
        open(protocols);
        const int before = frames.size();
        onConnected();
        settle();
        frames.erase(frames.begin() + before, frames.begin() + qMin<int>(before + 3, frames.size()));
    }

    /// The non-ping frames, parsed.
    QList<QJsonObject> published() const
    {
        QList<QJsonObject> out;
        for (const SentFrame &f : frames)
            if (!f.ping)
                out << parsed(f.text);
        return out;
    }
    /// The restored data of the i-th published frame (negative: from the end).
    QJsonObject data(int i) const
    {
        const QList<QJsonObject> p = published();
        return parsed(restoredText(p.value(i < 0 ? p.size() + i : i)));
    }
    /// Each published frame as "address type payload" (the restored text; without `payload`, "address type");
    /// a leading "!" marks an envelope frame that is not byte for byte the template's text.
    QStringList sent(bool payload = true) const
    {
        QStringList out;
        for (const SentFrame &f : frames) {
            const QJsonObject o = parsed(f.text);
            if (f.ping)
                continue;
            if (o.value(QStringLiteral("type")) != QLatin1String("publish")) {
                out << jstr(o, QStringLiteral("address")) + QLatin1Char(' ') + jstr(o, QStringLiteral("type"));
                continue;
            }
            const QString address = jstr(o, QStringLiteral("address")), type = jstr(o, QStringLiteral("body.type"));
            const bool envelope = jat(o, QStringLiteral("body")).toObject().keys() == QStringList{"data", "from", "type"};
            const bool exact = !envelope || f.text == envelopeText(address, type, restoredText(o));
            out << (exact ? QString() : QStringLiteral("!")) + address + QLatin1Char(' ') + type
                       + (payload ? QLatin1Char(' ') + restoredText(o) : QString());
        }
        return out;
    }
};

// Compressed payload bytes as the signed byte values a device may send.
inline QVariantList signedByteList(const QString &text)
{
    return signedBytes(QByteArray::fromBase64(compress64(text).toLatin1()));
}

// An incoming event-bus frame as the server delivers it.
inline QString deliveredFrame(const QVariantMap &body)
{
    QJsonObject root{{QStringLiteral("type"), QStringLiteral("rec")},
                     {QStringLiteral("address"), QStringLiteral("S1.presenter")},
                     {QStringLiteral("body"), QJsonObject::fromVariantMap(body)}};
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Compact));
}
