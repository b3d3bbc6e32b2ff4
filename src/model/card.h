// A lesson card: segment, tracks, components and styles (the background
// image is the "backgroundImage" entry of styles).
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "veltroclient_export.h"

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace Veltro {

class VELTROCLIENT_EXPORT Card : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool active READ getactive WRITE setactive)
    Q_PROPERTY(bool autoSend READ getautoSend WRITE setautoSend)
    Q_PROPERTY(QVariantList components READ getcomponents WRITE setcomponents)
    Q_PROPERTY(bool hasRendered READ gethasRendered WRITE sethasRendered)
    Q_PROPERTY(QString id READ getid WRITE setid)
    Q_PROPERTY(bool isTeacherCard READ getisTeacherCard WRITE setisTeacherCard)
    Q_PROPERTY(QString notes READ getnotes WRITE setnotes)
    Q_PROPERTY(int ordinal READ getordinal WRITE setordinal)
    Q_PROPERTY(bool primary READ getprimary WRITE setprimary)
    Q_PROPERTY(bool pristine READ getpristine WRITE setpristine)
    Q_PROPERTY(QString remoteId READ getremoteId WRITE setremoteId)
    Q_PROPERTY(QVariantMap segment READ getsegment WRITE setsegment)
    Q_PROPERTY(QVariantMap styles READ getstyles WRITE setstyles)
    Q_PROPERTY(QVariantList tracks READ gettracks WRITE settracks)
    Q_PROPERTY(QString type READ gettype WRITE settype)
    Q_PROPERTY(bool visible READ getvisible WRITE setvisible)

public:
    /// Creates a teacher card with empty background colour and image and a
    /// background size of "100%".
    explicit Card(QObject *parent = nullptr);

    bool getactive() const { return m_active; }
    bool getautoSend() const { return m_autoSend; }
    QVariantList getcomponents() const { return m_components; }
    bool gethasRendered() const { return m_hasRendered; }
    QString getid() const { return m_id; }
    bool getisTeacherCard() const { return m_isTeacherCard; }
    QString getnotes() const { return m_notes; }
    int getordinal() const { return m_ordinal; }
    bool getprimary() const { return m_primary; }
    bool getpristine() const { return m_pristine; }
    QString getremoteId() const { return m_remoteId; }
    QVariantMap getsegment() const { return m_segment; }
    QVariantMap getstyles() const { return m_styles; }
    QVariantList gettracks() const { return m_tracks; }
    QString gettype() const { return m_type; }
    bool getvisible() const { return m_visible; }

    /// Returns the "backgroundImage" entry of styles as a string. When styles
    /// lacks it, adds a null entry (serialized as null) and returns "".
    QString getBackgroundImage();

public Q_SLOTS:
    void setactive(bool v) { m_active = v; }
    void setautoSend(bool v) { m_autoSend = v; }
    void setcomponents(const QVariantList &v) { m_components = v; }
    void sethasRendered(bool v) { m_hasRendered = v; }
    void setid(const QString &v) { m_id = v; }
    void setisTeacherCard(bool v) { m_isTeacherCard = v; }
    void setnotes(const QString &v) { m_notes = v; }
    void setordinal(int v) { m_ordinal = v; }
    void setprimary(bool v) { m_primary = v; }
    void setpristine(bool v) { m_pristine = v; }
    void setremoteId(const QString &v) { m_remoteId = v; }
    void setsegment(const QVariantMap &v) { m_segment = v; }
    /// Replaces the whole styles map, background image included.
    void setstyles(const QVariantMap &v) { m_styles = v; }
    void settracks(const QVariantList &v) { m_tracks = v; }
    void settype(const QString &v) { m_type = v; }
    void setvisible(bool v) { m_visible = v; }

    /// Sets the "backgroundImage" entry of styles to `url`; other entries stay.
    void setBackgroundImage(const QString &url);

private:
    bool m_active = true;
    bool m_autoSend = true;
    QVariantList m_components;
    bool m_hasRendered = true;
    QString m_id;
    bool m_isTeacherCard = true;
    QString m_notes;
    int m_ordinal = 1;
    bool m_primary = true;
    bool m_pristine = true;
    QString m_remoteId;
    QVariantMap m_segment;
    QVariantMap m_styles;
    QVariantList m_tracks;
    QString m_type;
    bool m_visible = true;
};

} // namespace Veltro
