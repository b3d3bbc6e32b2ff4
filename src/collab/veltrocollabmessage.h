// The message object of an outgoing event-bus publish in its body form.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

#include "veltroclient_export.h"

namespace Veltro {

class VeltroCollabMessagePrivate;

/// Body of a "publish" frame built by reflection: its five properties are the
/// JSON keys of the body. A short-lived value: set `type` and either a data
/// object or a map in `data`, publish it once, destroy it.
class VELTROCLIENT_EXPORT VeltroCollabMessage : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString from READ getfrom WRITE setfrom) ///< JSON member "from".
    Q_PROPERTY(QString type READ gettype WRITE settype) ///< JSON member "type".
    Q_PROPERTY(QString version READ getversion WRITE setversion) ///< JSON member "version".
    Q_PROPERTY(QString sourceSystem READ getsourceSystem WRITE setsourceSystem) ///< JSON member "sourceSystem".
    Q_PROPERTY(QVariant data READ getdata WRITE setdata) ///< JSON member "data".

public:
    /// Protocol version every message carries unless the sender changes it ("3.0.0").
    static const QString PROTOCOL_VERSION;

    /// Creates an empty message: version "3.0.0", sourceSystem "Nimbra", invalid data.
    explicit VeltroCollabMessage(QObject *parent = nullptr);
    /// Releases the values; never touches the data object.
    ~VeltroCollabMessage() override;

    /// Sender token (set to the presenter's user token when published).
    QString getfrom() const;
    /// Message type, for example "questionStart".
    QString gettype() const;
    /// Protocol version.
    QString getversion() const;
    /// Name of the sending application.
    QString getsourceSystem() const;
    /// Payload; after compileData() a list holding one compressed text.
    QVariant getdata() const;
    /// The object serialized as payload, or null; not owned.
    QObject *getdataobject() const;

    /// Turns the payload into its wire form: the data object (or else a map in
    /// `data`) serialized to JSON, compressed, Base64, as a one-element list.
    /// With neither, logs "[VeltroCollabMessage] data object in message is
    /// invalid!" and leaves `data` unchanged. Called by the publisher.
    void compileData();

public Q_SLOTS:
    void setfrom(QString from); ///< Stores "from" as given.
    void settype(QString type); ///< Stores "type" as given.
    void setversion(QString version); ///< Stores "version" as given.
    void setsourceSystem(QString sourceSystem); ///< Stores "sourceSystem" as given.
    void setdata(QVariant data); ///< Stores "data" as given.
    /// Sets the object to serialize as payload; the message does not own it.
    void setdataobject(QObject *dataObject);

private:
    friend class VeltroCollabMessagePrivate;
    const std::unique_ptr<VeltroCollabMessagePrivate> d;
};

} // namespace Veltro
