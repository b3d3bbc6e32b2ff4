// The message object's payload compilation.
#include <QtTest>

#include "collabtestutil.h"
#include "card.h"
#include "jsonserializer.h"
#include "veltrocollabmessage.h"

using namespace Veltro;

class TestVeltroCollabMessage : public QObject
{
    Q_OBJECT

    static QString restored(const QVariant &data)
    {
        const QVariantList list = data.toList();
        if (list.size() != 1)
            return QStringLiteral("<not one element>");
        QString out;
        LzmaDecompress64(list.at(0).toString(), &out);
        return out;
    }

private Q_SLOTS:
    void compileData()
    {
        VeltroCollabMessage m;
        // (version and source system are checked on the wire by the publishing test)

        // Neither object nor map: left as it is.
        m.setdata(QStringLiteral("raw"));
        m.compileData();
        QCOMPARE(m.getdata(), QVariant(QStringLiteral("raw")));

        const QVariantMap map{{QStringLiteral("a"), 1}};
        m.setdata(map);
        m.compileData();
        QCOMPARE(restored(m.getdata()), JsonSerializer::serializeToJson(map));

        // The data object wins over a map, and is neither owned nor deleted.
        auto *card = new Card(this);
        {
            VeltroCollabMessage withObject;
            withObject.setdata(map);
            withObject.setdataobject(card);
            withObject.compileData();
            QCOMPARE(restored(withObject.getdata()), JsonSerializer::serializeToJson(card));
        }
        QCOMPARE(card->gettype(), QStringLiteral("TEACHER"));
        delete card;
    }
};

QTEST_GUILESS_MAIN(TestVeltroCollabMessage)
#include "tst_veltrocollabmessage.moc"
