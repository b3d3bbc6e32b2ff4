// The object a model follows, with the connections it made to it: changing
// it drops them, so a model never hears from the object it left.
#pragma once

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

namespace Veltro {

template <typename T> class Followed
{
public:
    /// Follows `next` from now on, dropping the connections to the one
    /// before; false (nothing done) when it is the one followed already.
    bool set(T *next)
    {
        if (next == m_object)
            return false;
        for (const QMetaObject::Connection &c : qAsConst(m_connections))
            QObject::disconnect(c);
        m_connections.clear();
        m_object = next;
        return true;
    }
    /// Keeps a connection to the object followed, to drop with it.
    Followed &operator<<(const QMetaObject::Connection &c)
    {
        m_connections << c;
        return *this;
    }
    T *get() const { return m_object; }
    operator T *() const { return m_object; }
    T *operator->() const { return m_object; }

private:
    QPointer<T> m_object;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace Veltro
