<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" sourcelanguage="en_US">
<context>
    <name>Debug</name>
    <message>
        <source>Debug</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>save log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Socket Error: cannot receive the driver&apos;s debug output on %1 port %2 (%3). Close the program that holds this port (for example another debug window) and open this window again.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log Files (*.log)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The log could not be saved to %1: %2
Choose another file or folder and save again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Dialog</name>
    <message>
        <source>Velmora ASIO configure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>config</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>save</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>64bit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>32bit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>24bit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>16bit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cnvert from S32</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Auto</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Interface Ethernet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Find IP</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PCM Request</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connect Target</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ASIO Buffer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>build Qt 5.15  LGPL</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preset Profile</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>16-16384</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>LSB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MSB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>find</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>default</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FS X Depth</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>DSD Type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>7</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>8</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>9</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>10</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>11</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>12</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>13</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>14</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>15</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>16</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Velmora Cycle</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Target Latency</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>msec</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>usec  XXX-XXX</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cycle=XXXHz</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Prefer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>debug</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The driver&apos;s debug switch could not be deleted:
%1

The driver sends debug output until the file is deleted.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>DeveloperPreview</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings could not be written to
%1

Check that the folder exists and that you may write there, then save again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings file
%1
was changed by another program since this window loaded it.

Overwrite those changes with the settings shown here?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The driver&apos;s settings file
%1
could not be used: %2.

Its content was kept as
%3%4
The tool starts with the shipped defaults.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>
(this replaced an earlier copy of that name).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The driver&apos;s settings file
%1
could not be used: %2.

No copy of it could be kept as %3 (%4); saving replaces it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The driver&apos;s settings file
%1
cannot be used: %2.

The tool neither reads nor writes it.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Dmesg</name>
    <message>
        <source>dmesg</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>save log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>reboot</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log Files (*.log)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The log could not be saved to %1: %2
Choose another file or folder and save again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Update</name>
    <message>
        <source>Setting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>check</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Current : </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update target</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update : </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update Host</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Address : </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>dmesg</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wait: the firmware update is still running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 KiB/s</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
