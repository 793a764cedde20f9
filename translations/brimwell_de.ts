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
    <message>
        <source>Used: %1 %</source>
        <translation>Belegt: %1 %</translation>
    </message>
    <message>
        <source>Available: %1</source>
        <translation>Verfügbar: %1</translation>
    </message>
    <message>
        <source>Pressure: %1</source>
        <translation>Speicherdruck: %1</translation>
    </message>
    <message>
        <source>Preferences…</source>
        <translation>Einstellungen …</translation>
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
    <message>
        <source>Available</source>
        <translation>Verfügbar</translation>
    </message>
    <message>
        <source>Available memory</source>
        <translation>Verfügbarer Speicher</translation>
    </message>
    <message>
        <source>Swap</source>
        <translation>Auslagerung</translation>
    </message>
    <message>
        <source>Swap used of total</source>
        <translation>Belegter und gesamter Auslagerungsspeicher</translation>
    </message>
    <message>
        <source>Pressure</source>
        <translation>Speicherdruck</translation>
    </message>
    <message>
        <source>Memory pressure</source>
        <translation>Speicherdruck</translation>
    </message>
    <message>
        <source>Last 10 minutes</source>
        <translation>Letzte 10 Minuten</translation>
    </message>
    <message>
        <source>Memory used over the last 10 minutes</source>
        <translation>Speicherbelegung der letzten 10 Minuten</translation>
    </message>
    <message>
        <source>Top processes</source>
        <translation>Größte Prozesse</translation>
    </message>
    <message>
        <source>Top processes by memory</source>
        <translation>Prozesse mit dem größten Speicherbedarf</translation>
    </message>
    <message>
        <source>Preferences…</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <comment>available memory of the total</comment>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>%1 / %2</source>
        <comment>swap used / swap total</comment>
        <translation>%1 / %2</translation>
    </message>
    <message>
        <source>%1 (process %2)</source>
        <translation>%1 (Prozess %2)</translation>
    </message>
    <message>
        <source>No processes could be read</source>
        <translation>Prozesse konnten nicht gelesen werden</translation>
    </message>
    <message>
        <source>high</source>
        <comment>memory pressure</comment>
        <translation>hoch</translation>
    </message>
    <message>
        <source>some</source>
        <comment>memory pressure: some programs wait</comment>
        <translation>mäßig</translation>
    </message>
    <message>
        <source>none</source>
        <comment>memory pressure</comment>
        <translation>keiner</translation>
    </message>
</context>
<context>
    <name>MCMonitorController</name>
    <message>
        <source>%1 available (%2 %)</source>
        <translation>%1 verfügbar (%2 %)</translation>
    </message>
    <message>
        <source>Memory pressure is high</source>
        <translation>Hoher Speicherdruck</translation>
    </message>
    <message>
        <source>Programs keep waiting for memory. %1. Closing a big program helps.</source>
        <translation>Programme warten immer wieder auf Speicher. %1. Es hilft, ein großes Programm zu schließen.</translation>
    </message>
    <message>
        <source>Memory is running low</source>
        <translation>Arbeitsspeicher wird knapp</translation>
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
    <name>MCPreferencesWindowController</name>
    <message>
        <source>Brimwell Preferences</source>
        <translation>Brimwell-Einstellungen</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Start Brimwell at &amp;login</source>
        <translation>Brimwell bei der &amp;Anmeldung starten</translation>
    </message>
    <message>
        <source>Send anonymous &amp;usage statistics</source>
        <translation>Anonyme &amp;Nutzungsstatistik senden</translation>
    </message>
    <message>
        <source>&amp;Tray icon:</source>
        <translation>&amp;Statussymbol:</translation>
    </message>
    <message>
        <source>Tray icon style</source>
        <translation>Darstellung des Statussymbols</translation>
    </message>
    <message>
        <source>Memory level bar</source>
        <translation>Balken mit der Speicherbelegung</translation>
    </message>
    <message>
        <source>Plain icon</source>
        <translation>Einfaches Symbol</translation>
    </message>
    <message>
        <source>Low memory</source>
        <translation>Knapper Speicher</translation>
    </message>
    <message>
        <source>&amp;Notify me when memory runs low</source>
        <translation>Bei knappem Speicher &amp;benachrichtigen</translation>
    </message>
    <message>
        <source>When available memory is &amp;below:</source>
        <translation>Wenn &amp;weniger verfügbar ist als:</translation>
    </message>
    <message>
        <source>Notify below this share of available memory</source>
        <translation>Benachrichtigen, wenn weniger als dieser Anteil des Speichers verfügbar ist</translation>
    </message>
    <message>
        <source> %</source>
        <translation> %</translation>
    </message>
    <message>
        <source>Also when memory pressure stays high for 10 seconds. At most once every 10 minutes.</source>
        <translation>Auch wenn der Speicherdruck 10 Sekunden lang hoch bleibt. Höchstens einmal alle 10 Minuten.</translation>
    </message>
    <message>
        <source>Auto-clean</source>
        <translation>Automatisch bereinigen</translation>
    </message>
    <message>
        <source>&amp;Clean memory automatically</source>
        <translation>Speicher au&amp;tomatisch bereinigen</translation>
    </message>
    <message>
        <source>When used memory is &amp;above:</source>
        <translation>Wenn &amp;mehr belegt ist als:</translation>
    </message>
    <message>
        <source>Clean above this share of used memory</source>
        <translation>Bereinigen, wenn mehr als dieser Anteil des Speichers belegt ist</translation>
    </message>
    <message>
        <source>At &amp;most once every:</source>
        <translation>&amp;Höchstens einmal alle:</translation>
    </message>
    <message>
        <source>Minutes between automatic cleans</source>
        <translation>Minuten zwischen automatischen Bereinigungen</translation>
    </message>
    <message>
        <source> min</source>
        <translation> min</translation>
    </message>
    <message>
        <source>Problem</source>
        <translation>Problem</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>There is no home folder, so these choices last until Brimwell quits.</source>
        <translation>Es gibt keinen persönlichen Ordner, daher gelten diese Einstellungen nur, bis Brimwell beendet wird.</translation>
    </message>
    <message>
        <source>Start at login could not be changed: %1</source>
        <translation>Der Start bei der Anmeldung konnte nicht geändert werden: %1</translation>
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
