// What the window tests share: a watch for nested event loops, where screenshots go, and how a test finds,
// reads and clicks the parts of a widget window (QT_WIDGETS_LIB) or a QML window (QT_QUICK_LIB) by object name.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QTimer>
#include <QtTest>

#ifdef QT_WIDGETS_LIB
#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#endif
#ifdef QT_QUICK_LIB
#include <QQuickItem>
#include <QQuickWindow>
#endif

// Counts the turns of the event loop taken inside a watched step: a timer due
// at once, running only during the step, fires there only if the step runs a
// nested loop (a blocking call's wait, processEvents(), exec()).
class LoopWatch : public QObject
{
public:
    explicit LoopWatch(QObject *parent) : QObject(parent)
    {
        m_tick.setInterval(0);
        connect(&m_tick, &QTimer::timeout, this, [this] { ++m_nested; });
    }
    template <class Step> void run(Step step)
    {
        m_tick.start();
        step();
        m_tick.stop();
    }
    int nested() const { return m_nested; }

private:
    QTimer m_tick;
    int m_nested = 0;
};

inline LoopWatch *watch()
{
    static LoopWatch *w = new LoopWatch(QCoreApplication::instance());
    return w;
}

// The PNG file for the state `name` when VELTRO_SCREENSHOTS names a folder (scripts/screenshots), else empty.
inline QString screenshotPath(const QByteArray &name)
{
    const QString dir = qEnvironmentVariable("VELTRO_SCREENSHOTS");
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".png");
}

#ifdef QT_WIDGETS_LIB
template <class T> T *part(QWidget *w, const char *name)
{
    T *found = w->findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning("no widget named %s", name);
    return found;
}

inline bool shows(QWidget *w, const char *name)
{
    QWidget *found = part<QWidget>(w, name);
    return found && found->isVisible();
}

inline QString text(QWidget *w, const char *name)
{
    QLabel *label = part<QLabel>(w, name);
    return label ? label->text() : QString();
}

// Clicks a visible, enabled button (or check box); the click must return without a nested event loop.
inline void click(QWidget *w, const char *name)
{
    QAbstractButton *b = part<QAbstractButton>(w, name);
    QVERIFY2(b && b->isVisible() && b->isEnabled(), name);
    // Within what the button draws: a check box may be wider than its box and text.
    const QPoint at(qMin(b->width(), b->sizeHint().width()) / 2, b->height() / 2);
    watch()->run([b, at] { QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, at); });
    QCOMPARE(watch()->nested(), 0);
}

inline void shoot(QWidget *w, const QByteArray &name)
{
    const QString path = screenshotPath(name);
    if (!path.isEmpty())
        QVERIFY(w->grab().save(path));
}
#endif

#ifdef QT_QUICK_LIB
// The visible items called `name` below `root`, in the order of the scene.
inline QList<QQuickItem *> items(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> out;
    for (QQuickItem *child : root->childItems()) {
        if (child->objectName() == name && child->isVisible())
            out << child;
        out << items(child, name);
    }
    return out;
}

inline QQuickItem *item(QQuickWindow *w, const char *name)
{
    const QList<QQuickItem *> found = items(w->contentItem(), QLatin1String(name));
    if (found.isEmpty())
        qWarning("no visible item named %s", name);
    return found.value(0);
}

inline bool shows(QQuickWindow *w, const char *name)
{
    return !items(w->contentItem(), QLatin1String(name)).isEmpty();
}

inline QString text(QQuickWindow *w, const char *name)
{
    QQuickItem *i = item(w, name);
    return i ? i->property("text").toString() : QString();
}

inline void click(QQuickWindow *w, const char *name)
{
    QQuickItem *b = item(w, name);
    QVERIFY2(b && b->isEnabled(), name);
    const QPointF centre = b->mapToScene(QPointF(b->width() / 2, b->height() / 2));
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

inline void shoot(QQuickWindow *w, const QByteArray &name)
{
    const QString path = screenshotPath(name);
    if (!path.isEmpty())
        QVERIFY(w->grabWindow().save(path));
}
#endif
