#include "card.h"

namespace Veltro {

static const QString kBackgroundImage = QStringLiteral("backgroundImage");

Card::Card(QObject *parent)
    : QObject(parent)
    , m_styles{{QStringLiteral("backgroundColor"), QString(QLatin1String(""))},
               {QStringLiteral("backgroundImage"), QString(QLatin1String(""))},
               {QStringLiteral("backgroundSize"), QStringLiteral("100%")}}
    , m_type(QStringLiteral("TEACHER"))
{
}

QString Card::getBackgroundImage()
{
    // The inserting lookup is deliberate: peers see "backgroundImage": null
    // once the image was asked for on a card whose styles lack it.
    return m_styles[kBackgroundImage].toString();
}

void Card::setBackgroundImage(const QString &url)
{
    m_styles.insert(kBackgroundImage, url);
}

} // namespace Veltro
