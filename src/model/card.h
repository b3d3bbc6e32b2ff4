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

/// A lesson card: segment, tracks, components and styles; a poll carries one for its background image.
class VELTROCLIENT_EXPORT Card : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool active READ getactive WRITE setactive) ///< JSON member "active".
    Q_PROPERTY(bool autoSend READ getautoSend WRITE setautoSend) ///< JSON member "autoSend".
    Q_PROPERTY(QVariantList components READ getcomponents WRITE setcomponents) ///< JSON member "components".
    Q_PROPERTY(bool hasRendered READ gethasRendered WRITE sethasRendered) ///< JSON member "hasRendered".
    Q_PROPERTY(QString id READ getid WRITE setid) ///< JSON member "id".
    Q_PROPERTY(bool isTeacherCard READ getisTeacherCard WRITE setisTeacherCard) ///< JSON member "isTeacherCard".
    Q_PROPERTY(QString notes READ getnotes WRITE setnotes) ///< JSON member "notes".
    Q_PROPERTY(int ordinal READ getordinal WRITE setordinal) ///< JSON member "ordinal".
    Q_PROPERTY(bool primary READ getprimary WRITE setprimary) ///< JSON member "primary".
    Q_PROPERTY(bool pristine READ getpristine WRITE setpristine) ///< JSON member "pristine".
    Q_PROPERTY(QString remoteId READ getremoteId WRITE setremoteId) ///< JSON member "remoteId".
    Q_PROPERTY(QVariantMap segment READ getsegment WRITE setsegment) ///< JSON member "segment".
    Q_PROPERTY(QVariantMap styles READ getstyles WRITE setstyles) ///< JSON member "styles".
    Q_PROPERTY(QVariantList tracks READ gettracks WRITE settracks) ///< JSON member "tracks".
    Q_PROPERTY(QString type READ gettype WRITE settype) ///< JSON member "type".
    Q_PROPERTY(bool visible READ getvisible WRITE setvisible) ///< JSON member "visible".

public:
    /// Creates a teacher card with empty background colour and image and a
    /// background size of "100%".
    explicit Card(QObject *parent = nullptr);

    bool getactive() const { return m_active; } ///< Returns "active".
    bool getautoSend() const { return m_autoSend; } ///< Returns "autoSend".
    QVariantList getcomponents() const { return m_components; } ///< Returns "components".
    bool gethasRendered() const { return m_hasRendered; } ///< Returns "hasRendered".
    QString getid() const { return m_id; } ///< Returns "id".
    bool getisTeacherCard() const { return m_isTeacherCard; } ///< Returns "isTeacherCard".
    QString getnotes() const { return m_notes; } ///< Returns "notes".
    int getordinal() const { return m_ordinal; } ///< Returns "ordinal".
    bool getprimary() const { return m_primary; } ///< Returns "primary".
    bool getpristine() const { return m_pristine; } ///< Returns "pristine".
    QString getremoteId() const { return m_remoteId; } ///< Returns "remoteId".
    QVariantMap getsegment() const { return m_segment; } ///< Returns "segment".
    QVariantMap getstyles() const { return m_styles; } ///< Returns "styles".
    QVariantList gettracks() const { return m_tracks; } ///< Returns "tracks".
    QString gettype() const { return m_type; } ///< Returns "type".
    bool getvisible() const { return m_visible; } ///< Returns "visible".

    /// Returns the "backgroundImage" entry of styles as a string. When styles
    /// lacks it, adds a null entry (serialized as null) and returns "".
    QString getBackgroundImage();

public Q_SLOTS:
    void setactive(bool v) { m_active = v; } ///< Stores "active" as given.
    void setautoSend(bool v) { m_autoSend = v; } ///< Stores "autoSend" as given.
    void setcomponents(const QVariantList &v) { m_components = v; } ///< Stores "components" as given.
    void sethasRendered(bool v) { m_hasRendered = v; } ///< Stores "hasRendered" as given.
    void setid(const QString &v) { m_id = v; } ///< Stores "id" as given.
    void setisTeacherCard(bool v) { m_isTeacherCard = v; } ///< Stores "isTeacherCard" as given.
    void setnotes(const QString &v) { m_notes = v; } ///< Stores "notes" as given.
    void setordinal(int v) { m_ordinal = v; } ///< Stores "ordinal" as given.
    void setprimary(bool v) { m_primary = v; } ///< Stores "primary" as given.
    void setpristine(bool v) { m_pristine = v; } ///< Stores "pristine" as given.
    void setremoteId(const QString &v) { m_remoteId = v; } ///< Stores "remoteId" as given.
    void setsegment(const QVariantMap &v) { m_segment = v; } ///< Stores "segment" as given.
    /// Replaces the whole styles map, background image included.
    void setstyles(const QVariantMap &v) { m_styles = v; }
    void settracks(const QVariantList &v) { m_tracks = v; } ///< Stores "tracks" as given.
    void settype(const QString &v) { m_type = v; } ///< Stores "type" as given.
    void setvisible(bool v) { m_visible = v; } ///< Stores "visible" as given.

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
