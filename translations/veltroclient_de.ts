<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Veltro::PollKind</name>
    <message>
        <source>Multiple choice</source>
        <translation>Mehrfachauswahl</translation>
    </message>
    <message>
        <source>True / false</source>
        <translation>Wahr / falsch</translation>
    </message>
    <message>
        <source>Yes / no</source>
        <translation>Ja / nein</translation>
    </message>
    <message>
        <source>Scale</source>
        <translation>Skala</translation>
    </message>
    <message>
        <source>Sort</source>
        <translation>Reihenfolge</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>Freitext</translation>
    </message>
    <message>
        <source>Number</source>
        <translation>Zahl</translation>
    </message>
    <message>
        <source>Math formula</source>
        <translation>Formel</translation>
    </message>
    <message>
        <source>Word seed</source>
        <translation>Wortsammlung</translation>
    </message>
    <message>
        <source>Creative</source>
        <translation>Kreativ</translation>
    </message>
</context>
<context>
    <name>Veltro::plainError</name>
    <message>
        <source>the server&apos;s certificate is not signed by a trusted authority: its CA certificate is needed</source>
        <translation>das Zertifikat des Servers ist von keiner vertrauenswürdigen Stelle signiert: deren CA-Zertifikat wird benötigt</translation>
    </message>
    <message>
        <source>the service named no server for the live connection</source>
        <translation>der Dienst hat keinen Server für die Live-Verbindung genannt</translation>
    </message>
    <message>
        <source>the service did not start the session</source>
        <translation>der Dienst hat die Sitzung nicht gestartet</translation>
    </message>
    <message>
        <source>the service&apos;s answer was larger than allowed</source>
        <translation>die Antwort des Dienstes war größer als erlaubt</translation>
    </message>
    <message>
        <source>the service no longer knows this sign-in</source>
        <translation>der Dienst kennt diese Anmeldung nicht mehr</translation>
    </message>
    <message>
        <source>the server asks for its own user and password</source>
        <translation>der Server verlangt einen eigenen Benutzer und ein eigenes Passwort</translation>
    </message>
    <message>
        <source>the device&apos;s sign-in token was not accepted</source>
        <translation>das Anmelde-Token des Geräts wurde nicht angenommen</translation>
    </message>
    <message>
        <source>the user id or password was not accepted</source>
        <translation>Benutzerkennung oder Passwort wurden nicht angenommen</translation>
    </message>
    <message>
        <source>the service does not know this session</source>
        <translation>der Dienst kennt diese Sitzung nicht</translation>
    </message>
    <message>
        <source>the session has been stopped already</source>
        <translation>die Sitzung wurde bereits beendet</translation>
    </message>
    <message>
        <source>no reason was given</source>
        <translation>es wurde kein Grund genannt</translation>
    </message>
    <message>
        <source>the service said: %1</source>
        <translation>der Dienst meldete: %1</translation>
    </message>
</context>
</TS>
