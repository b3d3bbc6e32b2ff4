<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>BarChart</name>
    <message>
        <source>%L1 (%2%)</source>
        <translation>%L1 (%2 %)</translation>
    </message>
    <message>
        <source>No answers yet</source>
        <translation>Noch keine Antworten</translation>
    </message>
</context>
<context>
    <name>ClassroomWindow</name>
    <message>
        <source>Connecting</source>
        <translation>Verbindung wird aufgebaut</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Connected, round trip %L1 ms</source>
        <translation>Verbunden, Umlaufzeit %L1 ms</translation>
    </message>
    <message>
        <source>Reconnecting</source>
        <translation>Verbindung wird wiederhergestellt</translation>
    </message>
    <message>
        <source>Closing</source>
        <translation>Wird geschlossen</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>Nicht verbunden</translation>
    </message>
    <message>
        <source>Veltro Classroom</source>
        <translation>Veltro Classroom</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Serveradresse</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Benutzerkennung</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Stay signed in</source>
        <translation>Angemeldet bleiben</translation>
    </message>
    <message>
        <source>Keeps a sign-in for this computer in the system keyring, never the password; Sign out forgets it.</source>
        <translation>Bewahrt eine Anmeldung für diesen Rechner im Schlüsselbund des Systems auf, nie das Passwort; Abmelden vergisst sie.</translation>
    </message>
    <message>
        <source>Sign in</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Veltro Classroom&lt;/h2&gt;Sign in to start a live class.</source>
        <translation>&lt;h2&gt;Veltro Classroom&lt;/h2&gt;Melden Sie sich an, um eine Live-Stunde zu beginnen.</translation>
    </message>
    <message>
        <source>Session code: type it on your device to join</source>
        <translation>Sitzungscode: zum Teilnehmen auf dem Gerät eingeben</translation>
    </message>
    <message>
        <source>Start session</source>
        <translation>Sitzung starten</translation>
    </message>
    <message>
        <source>Stop session</source>
        <translation>Sitzung beenden</translation>
    </message>
    <message>
        <source>Sign out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Learners</source>
        <translation>Lernende</translation>
    </message>
    <message>
        <source>Poll</source>
        <translation>Umfrage</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Anhalten</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Fortsetzen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Signing in as %1...</source>
        <translation>Anmeldung als %1 …</translation>
    </message>
    <message>
        <source>Signing in...</source>
        <translation>Anmeldung …</translation>
    </message>
    <message>
        <source>Connection: &lt;b&gt;%1&lt;/b&gt;</source>
        <translation>Verbindung: &lt;b&gt;%1&lt;/b&gt;</translation>
    </message>
    <message>
        <source>%L1 joined</source>
        <translation>%L1 beigetreten</translation>
    </message>
    <message>
        <source>No poll yet</source>
        <translation>Noch keine Umfrage</translation>
    </message>
    <message>
        <source>Answers: %L1 of %L2</source>
        <translation>Antworten: %L1 von %L2</translation>
    </message>
    <message>
        <source>Paused: %L1 of %L2 answered</source>
        <translation>Angehalten: %L1 von %L2 haben geantwortet</translation>
    </message>
    <message>
        <source>Final: %L1 answers</source>
        <translation>Ergebnis: %L1 Antworten</translation>
    </message>
    <message>
        <source>Lesson</source>
        <translation>Unterricht</translation>
    </message>
    <message>
        <source>Image card...</source>
        <translation>Bildkarte …</translation>
    </message>
    <message>
        <source>Image card</source>
        <translation>Bildkarte</translation>
    </message>
    <message>
        <source>Start assessment</source>
        <translation>Test starten</translation>
    </message>
    <message>
        <source>Stop assessment</source>
        <translation>Test beenden</translation>
    </message>
    <message>
        <source>Save results...</source>
        <translation>Ergebnisse speichern …</translation>
    </message>
    <message>
        <source>Save results</source>
        <translation>Ergebnisse speichern</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV-Dateien (*.csv)</translation>
    </message>
    <message>
        <source>Images (*.png *.jpg *.jpeg *.gif *.svg *.webp)</source>
        <translation>Bilder (*.png *.jpg *.jpeg *.gif *.svg *.webp)</translation>
    </message>
</context>
<context>
    <name>KeptSignIn</name>
    <message>
        <source>The kept sign-in could not be used now: %1</source>
        <translation>Die aufbewahrte Anmeldung ließ sich gerade nicht nutzen: %1</translation>
    </message>
    <message>
        <source>Signed in, but the sign-in could not be kept: %1</source>
        <translation>Angemeldet, aber die Anmeldung ließ sich nicht aufbewahren: %1</translation>
    </message>
</context>
<context>
    <name>Lesson</name>
    <message>
        <source>Cells</source>
        <translation>Zellen</translation>
    </message>
    <message>
        <source>Welcome</source>
        <translation>Willkommen</translation>
    </message>
    <message>
        <source>What a cell is</source>
        <translation>Was eine Zelle ist</translation>
    </message>
    <message>
        <source>The cell wall</source>
        <translation>Die Zellwand</translation>
    </message>
    <message>
        <source>Quiz</source>
        <translation>Quiz</translation>
    </message>
    <message>
        <source>No card</source>
        <translation>Keine Karte</translation>
    </message>
    <message>
        <source>Card %1 of %2</source>
        <translation>Karte %1 von %2</translation>
    </message>
    <message>
        <source>Card %1 of %2: %3</source>
        <translation>Karte %1 von %2: %3</translation>
    </message>
    <message>
        <source>Remote connected</source>
        <translation>Fernbedienung verbunden</translation>
    </message>
    <message>
        <source>No remote</source>
        <translation>Keine Fernbedienung</translation>
    </message>
    <message>
        <source>Which of these is part of a plant cell?</source>
        <translation>Was davon gehört zu einer Pflanzenzelle?</translation>
    </message>
    <message>
        <source>Cell wall</source>
        <translation>Zellwand</translation>
    </message>
    <message>
        <source>Wheel</source>
        <translation>Rad</translation>
    </message>
    <message>
        <source>Feather</source>
        <translation>Feder</translation>
    </message>
    <message>
        <source>Animal cells have a cell wall.</source>
        <translation>Tierzellen haben eine Zellwand.</translation>
    </message>
    <message>
        <source>Where does a cell keep its DNA?</source>
        <translation>Wo bewahrt eine Zelle ihre DNA auf?</translation>
    </message>
    <message>
        <source>In the membrane</source>
        <translation>In der Membran</translation>
    </message>
    <message>
        <source>In the nucleus</source>
        <translation>Im Zellkern</translation>
    </message>
    <message>
        <source>In the cell wall</source>
        <translation>In der Zellwand</translation>
    </message>
    <message>
        <source>lesson-results-%1.csv</source>
        <translation>Unterrichtsergebnisse-%1.csv</translation>
    </message>
    <message>
        <source>%1 of %2 right</source>
        <translation>%1 von %2 richtig</translation>
    </message>
    <message>
        <source>Poll</source>
        <translation>Umfrage</translation>
    </message>
    <message>
        <source>Learners</source>
        <translation>Lernende</translation>
    </message>
    <message>
        <source>Assessment</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Image card shown: %1</source>
        <translation>Bildkarte gezeigt: %1</translation>
    </message>
    <message>
        <source>%1 was not shown: it cannot be read, is larger than 32 MiB, or the class is not live.</source>
        <translation>%1 wurde nicht gezeigt: Die Datei ist nicht lesbar oder größer als 32 MiB, oder die Klasse ist nicht live.</translation>
    </message>
    <message>
        <source>Results saved in %1</source>
        <translation>Ergebnisse gespeichert in %1</translation>
    </message>
    <message>
        <source>The results could not be saved in %1: %2.</source>
        <translation>Die Ergebnisse konnten nicht in %1 gespeichert werden: %2.</translation>
    </message>
    <message>
        <source>no file was named</source>
        <translation>keine Datei angegeben</translation>
    </message>
</context>
<context>
    <name>LessonPanel</name>
    <message>
        <source>Show</source>
        <translation>Zeigen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>File:</source>
        <translation>Datei:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>LiveClass</name>
    <message>
        <source>Connected, round trip %1 ms</source>
        <translation>Verbunden, Umlaufzeit %1 ms</translation>
    </message>
    <message>
        <source>Learners: %1 joined</source>
        <translation>Lernende: %1 beigetreten</translation>
    </message>
</context>
<context>
    <name>PollPanel</name>
    <message>
        <source>Answers: %1 of %2</source>
        <translation>Antworten: %1 von %2</translation>
    </message>
    <message>
        <source>Paused: %1 of %2 answered</source>
        <translation>Angehalten: %1 von %2 haben geantwortet</translation>
    </message>
    <message>
        <source>Final: %1 answers</source>
        <translation>Ergebnis: %1 Antworten</translation>
    </message>
    <message>
        <source>%1 (%2%)</source>
        <translation>%1 (%2 %)</translation>
    </message>
</context>
<context>
    <name>SignInPage</name>
    <message>
        <source>Sign in to start a live class.</source>
        <translation>Melden Sie sich an, um eine Live-Stunde zu beginnen.</translation>
    </message>
</context>
<context>
    <name>TokenStore</name>
    <message>
        <source>Stay signed in is not available: the keyring refused access.</source>
        <translation>„Angemeldet bleiben“ ist nicht verfügbar: Der Schlüsselbund hat den Zugriff verweigert.</translation>
    </message>
    <message>
        <source>Stay signed in is not available: no keyring answers on this desktop.</source>
        <translation>„Angemeldet bleiben“ ist nicht verfügbar: Auf diesem Desktop antwortet kein Schlüsselbund.</translation>
    </message>
    <message>
        <source>Stay signed in is not available: the keyring did not answer.</source>
        <translation>„Angemeldet bleiben“ ist nicht verfügbar: Der Schlüsselbund hat nicht geantwortet.</translation>
    </message>
    <message>
        <source>%1 on %2</source>
        <translation>%1 auf %2</translation>
    </message>
    <message>
        <source>The service no longer accepts the kept sign-in, so it was forgotten: sign in with your password.</source>
        <translation>Der Dienst nimmt die aufbewahrte Anmeldung nicht mehr an, sie wurde daher vergessen: Melden Sie sich mit Ihrem Passwort an.</translation>
    </message>
</context>
</TS>
