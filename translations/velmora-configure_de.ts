<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en_US">
<context>
    <name>Debug</name>
    <message>
        <source>Debug</source>
        <translation>Debug-Ausgabe</translation>
    </message>
    <message>
        <source>close</source>
        <translation>Ende</translation>
    </message>
    <message>
        <source>clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>save log</source>
        <translation>Sichern</translation>
    </message>
    <message>
        <source>Socket Error: cannot receive the driver&apos;s debug output on %1 port %2 (%3). Close the program that holds this port (for example another debug window) and open this window again.
</source>
        <translation>Socket-Fehler: Die Debug-Ausgabe des Treibers auf %1 Port %2 kann nicht empfangen werden (%3). Beenden Sie das Programm, das diesen Port belegt (zum Beispiel ein anderes Debug-Fenster), und öffnen Sie dieses Fenster erneut.
</translation>
    </message>
    <message>
        <source>Log Files (*.log)</source>
        <translation>Log-Dateien (*.log)</translation>
    </message>
    <message>
        <source>The log could not be saved to %1: %2
Choose another file or folder and save again.</source>
        <translation>Das Log konnte nicht in %1 gespeichert werden: %2
Wählen Sie eine andere Datei oder einen anderen Ordner und speichern Sie erneut.</translation>
    </message>
</context>
<context>
    <name>Dialog</name>
    <message>
        <source>Velmora ASIO configure</source>
        <translation>Velmora ASIO konfigurieren</translation>
    </message>
    <message>
        <source>config</source>
        <translation>Konfig</translation>
    </message>
    <message>
        <source>save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>64bit</source>
        <translation>64 Bit</translation>
    </message>
    <message>
        <source>32bit</source>
        <translation>32 Bit</translation>
    </message>
    <message>
        <source>24bit</source>
        <translation>24 Bit</translation>
    </message>
    <message>
        <source>16bit</source>
        <translation>16 Bit</translation>
    </message>
    <message>
        <source>cnvert from S32</source>
        <translation>aus S32 wandeln</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Interface Ethernet</source>
        <translation>Schnittstelle</translation>
    </message>
    <message>
        <source>Find IP</source>
        <translation>IP suchen</translation>
    </message>
    <message>
        <source>PCM Request</source>
        <translation>PCM-Format</translation>
    </message>
    <message>
        <source>Connect Target</source>
        <translation>Zielgerät</translation>
    </message>
    <message>
        <source>ASIO Buffer</source>
        <translation>ASIO-Puffer</translation>
    </message>
    <message>
        <source>build Qt 5.15  LGPL</source>
        <translation>mit Qt 5.15  LGPL</translation>
    </message>
    <message>
        <source>Preset Profile</source>
        <translation>Voreinstellung</translation>
    </message>
    <message>
        <source>16-16384</source>
        <translation>16-16384</translation>
    </message>
    <message>
        <source>LSB</source>
        <translation>LSB</translation>
    </message>
    <message>
        <source>MSB</source>
        <translation>MSB</translation>
    </message>
    <message>
        <source>find</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>default</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>FS X Depth</source>
        <translation>FS x Tiefe</translation>
    </message>
    <message>
        <source>DSD Type</source>
        <translation>DSD-Typ</translation>
    </message>
    <message>
        <source>3</source>
        <translation>3</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>5</source>
        <translation>5</translation>
    </message>
    <message>
        <source>6</source>
        <translation>6</translation>
    </message>
    <message>
        <source>7</source>
        <translation>7</translation>
    </message>
    <message>
        <source>8</source>
        <translation>8</translation>
    </message>
    <message>
        <source>9</source>
        <translation>9</translation>
    </message>
    <message>
        <source>10</source>
        <translation>10</translation>
    </message>
    <message>
        <source>11</source>
        <translation>11</translation>
    </message>
    <message>
        <source>12</source>
        <translation>12</translation>
    </message>
    <message>
        <source>13</source>
        <translation>13</translation>
    </message>
    <message>
        <source>14</source>
        <translation>14</translation>
    </message>
    <message>
        <source>15</source>
        <translation>15</translation>
    </message>
    <message>
        <source>16</source>
        <translation>16</translation>
    </message>
    <message>
        <source>Velmora Cycle</source>
        <translation>Velmora-Zyklus</translation>
    </message>
    <message>
        <source>Target Latency</source>
        <translation>Ziel-Latenz</translation>
    </message>
    <message>
        <source>msec</source>
        <translation>msec</translation>
    </message>
    <message>
        <source>usec  XXX-XXX</source>
        <translation>usec  XXX-XXX</translation>
    </message>
    <message>
        <source>Cycle=XXXHz</source>
        <translation>Zyklus=XXXHz</translation>
    </message>
    <message>
        <source>Prefer</source>
        <translation>Prefer</translation>
    </message>
    <message>
        <source>debug</source>
        <translation>Debug</translation>
    </message>
    <message>
        <source>The driver&apos;s debug switch could not be deleted:
%1

The driver sends debug output until the file is deleted.</source>
        <translation>Der Debug-Schalter des Treibers konnte nicht gelöscht werden:
%1

Der Treiber sendet Debug-Ausgaben, bis die Datei gelöscht ist.</translation>
    </message>
    <message>
        <source>DeveloperPreview</source>
        <translation>Entwicklervorschau</translation>
    </message>
    <message>
        <source>The settings could not be written to
%1

Check that the folder exists and that you may write there, then save again.</source>
        <translation>Die Einstellungen konnten nicht gespeichert werden in
%1

Prüfen Sie, ob der Ordner existiert und Sie dort schreiben dürfen, und speichern Sie dann erneut.</translation>
    </message>
    <message>
        <source>The settings file
%1
was changed by another program since this window loaded it.

Overwrite those changes with the settings shown here?</source>
        <translation>Die Einstellungsdatei
%1
wurde von einem anderen Programm geändert, seit dieses Fenster sie geladen hat.

Diese Änderungen mit den hier gezeigten Einstellungen überschreiben?</translation>
    </message>
    <message>
        <source>The driver&apos;s settings file
%1
could not be used: %2.

Its content was kept as
%3%4
The tool starts with the shipped defaults.</source>
        <translation>Die Einstellungsdatei des Treibers
%1
konnte nicht verwendet werden: %2.

Ihr Inhalt wurde aufbewahrt als
%3%4
Das Programm startet mit den mitgelieferten Vorgaben.</translation>
    </message>
    <message>
        <source>
(this replaced an earlier copy of that name).</source>
        <translation>
(dies ersetzt eine frühere Kopie dieses Namens).</translation>
    </message>
    <message>
        <source>The driver&apos;s settings file
%1
could not be used: %2.

No copy of it could be kept as %3 (%4); saving replaces it.</source>
        <translation>Die Einstellungsdatei des Treibers
%1
konnte nicht verwendet werden: %2.

Es konnte keine Kopie als %3 aufbewahrt werden (%4); Speichern ersetzt sie.</translation>
    </message>
    <message>
        <source>The driver&apos;s settings file
%1
cannot be used: %2.

The tool neither reads nor writes it.</source>
        <translation>Die Einstellungsdatei des Treibers
%1
kann nicht verwendet werden: %2.

Das Programm liest und schreibt sie nicht.</translation>
    </message>
</context>
<context>
    <name>Dmesg</name>
    <message>
        <source>dmesg</source>
        <translation>dmesg (Log des Zielgeräts)</translation>
    </message>
    <message>
        <source>save log</source>
        <translation>Sichern</translation>
    </message>
    <message>
        <source>close</source>
        <translation>Ende</translation>
    </message>
    <message>
        <source>clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>reboot</source>
        <translation>Reboot</translation>
    </message>
    <message>
        <source>Log Files (*.log)</source>
        <translation>Log-Dateien (*.log)</translation>
    </message>
    <message>
        <source>The log could not be saved to %1: %2
Choose another file or folder and save again.</source>
        <translation>Das Log konnte nicht in %1 gespeichert werden: %2
Wählen Sie eine andere Datei oder einen anderen Ordner und speichern Sie erneut.</translation>
    </message>
</context>
<context>
    <name>Update</name>
    <message>
        <source>Setting</source>
        <translation>Einstellung</translation>
    </message>
    <message>
        <source>check</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>Current : </source>
        <translation>Aktuell : </translation>
    </message>
    <message>
        <source>update</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>Update target</source>
        <translation>Ziel-Update</translation>
    </message>
    <message>
        <source>Update : </source>
        <translation>Neu : </translation>
    </message>
    <message>
        <source>close</source>
        <translation>Ende</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Update Host</source>
        <translation>Treiber-Update</translation>
    </message>
    <message>
        <source>Address : </source>
        <translation>Adresse : </translation>
    </message>
    <message>
        <source>dmesg</source>
        <translation>dmesg</translation>
    </message>
    <message>
        <source>Wait: the firmware update is still running</source>
        <translation>Bitte warten: das Firmware-Update läuft noch</translation>
    </message>
    <message>
        <source>%1 KiB/s</source>
        <translation>%1 KiB/s</translation>
    </message>
</context>
</TS>
