<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>MCAboutWindowController</name>
    <message>
        <source>About Brimwell</source>
        <translation>Über Brimwell</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Shows how memory is used and frees memory on request.</source>
        <translation>Zeigt, wie der Arbeitsspeicher genutzt wird, und gibt auf Wunsch Speicher frei.</translation>
    </message>
    <message>
        <source>Contact Us</source>
        <translation>Kontakt aufnehmen</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>Version: %1</translation>
    </message>
</context>
<context>
    <name>MCAppDelegate</name>
    <message>
        <source>Free memory: %1</source>
        <translation>Freier Speicher: %1</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>About Brimwell</source>
        <translation>Über Brimwell</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>MCCleanReport</name>
    <message>
        <source>%1 memory is cleaned!</source>
        <translation>%1 Speicher freigegeben!</translation>
    </message>
    <message>
        <source>Enjoy your life!</source>
        <translation>Genießen Sie das Leben!</translation>
    </message>
</context>
<context>
    <name>MCContentViewController</name>
    <message>
        <source>Memory usage chart</source>
        <translation>Diagramm der Speichernutzung</translation>
    </message>
    <message>
        <source>Free memory</source>
        <translation>Freier Speicher</translation>
    </message>
    <message>
        <source>Clean Memory</source>
        <translation>Speicher bereinigen</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>No memory figures available</source>
        <translation>Keine Speicherwerte verfügbar</translation>
    </message>
    <message>
        <source>under 1%</source>
        <translation>unter 1 %</translation>
    </message>
    <message>
        <source>%1 %2 (%3)</source>
        <comment>memory class, its size, its share of the chart</comment>
        <translation>%1 %2 (%3)</translation>
    </message>
    <message>
        <source>Cleaning... %1 %</source>
        <comment>the clean button while a clean runs; %1: the share done</comment>
        <translation>Wird bereinigt … %1 %</translation>
    </message>
    <message>
        <source>Cleaning...</source>
        <translation>Wird bereinigt …</translation>
    </message>
    <message>
        <source>Memory Clean Done</source>
        <translation>Speicher bereinigt</translation>
    </message>
</context>
<context>
    <name>MCPanelWindow</name>
    <message>
        <source>Brimwell</source>
        <comment>the title of the panel&apos;s window on desktops without a tray</comment>
        <translation>Brimwell</translation>
    </message>
</context>
<context>
    <name>MCUtil</name>
    <message>
        <source>%1 GB</source>
        <translation>%1 GB</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 B</source>
        <translation>%1 B</translation>
    </message>
    <message>
        <source>%1%</source>
        <comment>a whole percentage</comment>
        <translation>%1 %</translation>
    </message>
</context>
<context>
    <name>SimplePieChart</name>
    <message>
        <source>Wired</source>
        <translation>Reserviert</translation>
    </message>
    <message>
        <source>Active</source>
        <translation>Aktiv</translation>
    </message>
    <message>
        <source>Inactive</source>
        <translation>Inaktiv</translation>
    </message>
    <message>
        <source>Free</source>
        <translation>Frei</translation>
    </message>
</context>
</TS>
