<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>DaemonClient</name>
    <message>
        <source>the daemon publishes no status</source>
        <translation>der Dienst veröffentlicht keinen Zustand</translation>
    </message>
</context>
<context>
    <name>NoticePolicy</name>
    <message>
        <source>The update</source>
        <translation>Die Aktualisierung</translation>
    </message>
    <message>
        <source>Release %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Updates will be installed at the next restart</source>
        <translation>Aktualisierungen werden beim nächsten Neustart installiert</translation>
    </message>
    <message>
        <source>%1 was armed because its deadline has passed. Save your work and restart soon.</source>
        <translation>%1 wurde vorgemerkt, weil ihre Frist abgelaufen ist. Bitte sichern Sie Ihre Arbeit und starten Sie den Rechner bald neu.</translation>
    </message>
    <message>
        <source>%1 was armed by forced mode. Save your work and restart soon.</source>
        <translation>%1 wurde durch den erzwungenen Modus vorgemerkt. Bitte sichern Sie Ihre Arbeit und starten Sie den Rechner bald neu.</translation>
    </message>
    <message>
        <source>%1 is downloaded and is installed when the computer restarts.</source>
        <translation>%1 ist heruntergeladen und wird beim Neustart des Rechners installiert.</translation>
    </message>
    <message>
        <source>Updates installed</source>
        <translation>Aktualisierungen installiert</translation>
    </message>
    <message>
        <source>The updates were installed at the last restart.</source>
        <translation>Die Aktualisierungen wurden beim letzten Neustart installiert.</translation>
    </message>
    <message>
        <source>The update could not be installed</source>
        <translation>Die Aktualisierung konnte nicht installiert werden</translation>
    </message>
    <message>
        <source>Installing the updates at the last restart failed. The administrator can find why in the system journal.</source>
        <translation>Die Installation der Aktualisierungen beim letzten Neustart ist fehlgeschlagen. Den Grund findet der Administrator im Systemjournal.</translation>
    </message>
    <message>
        <source>Connect the power to install updates</source>
        <translation>Schließen Sie das Netzteil an, um Aktualisierungen zu installieren</translation>
    </message>
    <message>
        <source>%1 was not installed at the last restart because the battery was low. Connect the power before you restart the computer.</source>
        <translation>%1 wurde beim letzten Neustart nicht installiert, weil der Akku zu schwach war. Bitte schließen Sie das Netzteil an, bevor Sie den Rechner neu starten.</translation>
    </message>
    <message>
        <source>The system has problems after the update</source>
        <translation>Das System hat nach der Aktualisierung Probleme</translation>
    </message>
    <message>
        <source>After the updates installed at the last restart: %1. Tell the administrator.</source>
        <translation>Nach den beim letzten Neustart installierten Aktualisierungen: %1. Bitte benachrichtigen Sie den Administrator.</translation>
    </message>
    <message>
        <source>The computer restarts at %1 to install updates</source>
        <translation>Der Rechner startet um %1 neu, um Aktualisierungen zu installieren</translation>
    </message>
    <message numerus="yes">
        <source>Save your work. %n minute(s) left.</source>
        <translation>
            <numerusform>Bitte sichern Sie Ihre Arbeit. Noch %n Minute.</numerusform>
            <numerusform>Bitte sichern Sie Ihre Arbeit. Noch %n Minuten.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>StatusText</name>
    <message>
        <source>yes</source>
        <translation>ja</translation>
    </message>
    <message>
        <source>no</source>
        <translation>nein</translation>
    </message>
    <message>
        <source>none</source>
        <translation>keine</translation>
    </message>
    <message>
        <source>successful</source>
        <translation>erfolgreich</translation>
    </message>
    <message>
        <source>unsuccessful</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>starting, no check done yet</source>
        <translation>startet, noch keine Prüfung</translation>
    </message>
    <message>
        <source>waiting for the network</source>
        <translation>wartet auf das Netzwerk</translation>
    </message>
    <message>
        <source>up to date</source>
        <translation>auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>updates found, download scheduled</source>
        <translation>Aktualisierungen gefunden, Herunterladen geplant</translation>
    </message>
    <message>
        <source>downloading the packages</source>
        <translation>lädt die Pakete herunter</translation>
    </message>
    <message>
        <source>downloaded, not armed</source>
        <translation>heruntergeladen, nicht vorgemerkt</translation>
    </message>
    <message>
        <source>armed for the next restart</source>
        <translation>für den nächsten Neustart vorgemerkt</translation>
    </message>
    <message>
        <source>armed for the next restart by the deadline or forced mode</source>
        <translation>durch die Frist oder den erzwungenen Modus für den nächsten Neustart vorgemerkt</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>stopped after an error</source>
        <translation>nach einem Fehler angehalten</translation>
    </message>
    <message>
        <source>standing aside for a major-release upgrade</source>
        <translation>pausiert für ein Upgrade auf eine neue Hauptversion</translation>
    </message>
    <message>
        <source>the free-space check failed</source>
        <translation>die Prüfung des freien Speicherplatzes ist fehlgeschlagen</translation>
    </message>
    <message>
        <source>the rehearsal of the upgrade failed</source>
        <translation>der Probelauf der Aktualisierung ist fehlgeschlagen</translation>
    </message>
    <message>
        <source>the pre-update validators refused the update</source>
        <translation>die Prüfprogramme vor der Aktualisierung haben sie abgelehnt</translation>
    </message>
    <message>
        <source>the link /system-update could not be made</source>
        <translation>die Verknüpfung /system-update konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>error %1</source>
        <translation>Fehler %1</translation>
    </message>
    <message>
        <source>now</source>
        <translation>jetzt</translation>
    </message>
    <message numerus="yes">
        <source>in %n minute(s)</source>
        <translation>
            <numerusform>in %n Minute</numerusform>
            <numerusform>in %n Minuten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n minute(s) ago</source>
        <translation>
            <numerusform>vor %n Minute</numerusform>
            <numerusform>vor %n Minuten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n hour(s)</source>
        <translation>
            <numerusform>in %n Stunde</numerusform>
            <numerusform>in %n Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n hour(s) ago</source>
        <translation>
            <numerusform>vor %n Stunde</numerusform>
            <numerusform>vor %n Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n day(s)</source>
        <translation>
            <numerusform>in %n Tag</numerusform>
            <numerusform>in %n Tagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n day(s) ago</source>
        <translation>
            <numerusform>vor %n Tag</numerusform>
            <numerusform>vor %n Tagen</numerusform>
        </translation>
    </message>
    <message>
        <source>the update</source>
        <translation>die Aktualisierung</translation>
    </message>
    <message>
        <source>release %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>%1 is installed at the next restart; forced mode keeps it armed.</source>
        <translation>%1 wird beim nächsten Neustart installiert; der erzwungene Modus hält die Vormerkung fest.</translation>
    </message>
    <message>
        <source>%1 is installed at the next restart; &quot;%2 disarm&quot; postpones it.</source>
        <translation>%1 wird beim nächsten Neustart installiert; „%2 disarm“ verschiebt sie.</translation>
    </message>
    <message>
        <source>Forced mode arms %1 without asking.</source>
        <translation>Der erzwungene Modus merkt %1 ohne Rückfrage vor.</translation>
    </message>
    <message>
        <source>The deadline has passed: %1 is armed at the next deadline check.</source>
        <translation>Die Frist ist abgelaufen: %1 wird bei der nächsten Fristprüfung vorgemerkt.</translation>
    </message>
    <message>
        <source>%1 is armed at the deadline, or now with &quot;%2 arm&quot;.</source>
        <translation>%1 wird zur Frist vorgemerkt, oder sofort mit „%2 arm“.</translation>
    </message>
    <message>
        <source>&quot;%1 arm&quot; arms %2 for the next restart.</source>
        <translation>„%1 arm“ merkt %2 für den nächsten Neustart vor.</translation>
    </message>
    <message>
        <source>Once the packages are downloaded the update can be armed.</source>
        <translation>Sobald die Pakete heruntergeladen sind, kann die Aktualisierung vorgemerkt werden.</translation>
    </message>
    <message>
        <source>The next check looks for updates.</source>
        <translation>Die nächste Prüfung sucht nach Aktualisierungen.</translation>
    </message>
    <message>
        <source>The work goes on when the configured host answers.</source>
        <translation>Es geht weiter, sobald der eingestellte Rechner antwortet.</translation>
    </message>
    <message>
        <source>Updates are stopped because %1; the configured error action decides when they resume.</source>
        <translation>Aktualisierungen sind angehalten, weil %1; die eingestellte Fehlerbehandlung entscheidet, wann es weitergeht.</translation>
    </message>
    <message>
        <source>Minor updates wait until the major-release upgrade is done.</source>
        <translation>Kleinere Aktualisierungen warten, bis das Upgrade auf die neue Hauptversion abgeschlossen ist.</translation>
    </message>
    <message>
        <source>The first check runs shortly after the daemon&apos;s start.</source>
        <translation>Die erste Prüfung läuft kurz nach dem Start des Dienstes.</translation>
    </message>
    <message>
        <source>See the log, /var/log/kirta-update-service/service.log.</source>
        <translation>Siehe das Protokoll, /var/log/kirta-update-service/service.log.</translation>
    </message>
    <message>
        <source>State number</source>
        <translation>Zustandsnummer</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Zustand</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Deadline</source>
        <translation>Frist</translation>
    </message>
    <message>
        <source>Forced</source>
        <translation>Erzwungen</translation>
    </message>
    <message>
        <source>Armed</source>
        <translation>Vorgemerkt</translation>
    </message>
    <message>
        <source>Packages</source>
        <translation>Pakete</translation>
    </message>
    <message>
        <source>Last check</source>
        <translation>Letzte Prüfung</translation>
    </message>
    <message>
        <source>Last result</source>
        <translation>Letztes Ergebnis</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Als Nächstes</translation>
    </message>
    <message>
        <source>not set</source>
        <translation>nicht gesetzt</translation>
    </message>
    <message>
        <source>none since the daemon started</source>
        <translation>keine seit dem Start des Dienstes</translation>
    </message>
    <message>
        <source>the packages are not downloaded yet; the daemon arms the update as soon as the download completes</source>
        <translation>die Pakete sind noch nicht heruntergeladen; der Dienst merkt die Aktualisierung vor, sobald das Herunterladen abgeschlossen ist</translation>
    </message>
    <message>
        <source>the free-space check and the rehearsal of the upgrade started</source>
        <translation>die Prüfung des freien Speicherplatzes und der Probelauf der Aktualisierung haben begonnen</translation>
    </message>
    <message>
        <source>unexpected answer</source>
        <translation>unerwartete Antwort</translation>
    </message>
    <message>
        <source>link /system-update created</source>
        <translation>Verknüpfung /system-update angelegt</translation>
    </message>
    <message>
        <source>link /system-update was already there</source>
        <translation>Verknüpfung /system-update war schon vorhanden</translation>
    </message>
    <message>
        <source>a file at /system-update was replaced by the link</source>
        <translation>eine Datei /system-update wurde durch die Verknüpfung ersetzt</translation>
    </message>
    <message>
        <source>a file at /system-update was removed but the link could not be created</source>
        <translation>eine Datei /system-update wurde entfernt, aber die Verknüpfung konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>a file at /system-update could not be removed</source>
        <translation>eine Datei /system-update konnte nicht entfernt werden</translation>
    </message>
    <message>
        <source>the link /system-update could not be created</source>
        <translation>die Verknüpfung /system-update konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>stamp created</source>
        <translation>Markierung angelegt</translation>
    </message>
    <message>
        <source>stamp was already there</source>
        <translation>Markierung war schon vorhanden</translation>
    </message>
    <message>
        <source>the stamp could not be created</source>
        <translation>die Markierung konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>forced mode is on; the armed upgrade cannot be disarmed</source>
        <translation>der erzwungene Modus ist an; die vorgemerkte Aktualisierung kann nicht zurückgenommen werden</translation>
    </message>
    <message>
        <source>nothing was armed</source>
        <translation>nichts war vorgemerkt</translation>
    </message>
    <message>
        <source>link /system-update removed</source>
        <translation>Verknüpfung /system-update entfernt</translation>
    </message>
    <message>
        <source>no link /system-update</source>
        <translation>keine Verknüpfung /system-update</translation>
    </message>
    <message>
        <source>the link /system-update could not be removed, so the upgrade stays armed</source>
        <translation>die Verknüpfung /system-update konnte nicht entfernt werden, die Aktualisierung bleibt also vorgemerkt</translation>
    </message>
    <message>
        <source>stamp removed</source>
        <translation>Markierung entfernt</translation>
    </message>
    <message>
        <source>no stamp</source>
        <translation>keine Markierung</translation>
    </message>
    <message>
        <source>the stamp could not be removed</source>
        <translation>die Markierung konnte nicht entfernt werden</translation>
    </message>
    <message>
        <source>Health</source>
        <translation>Systemzustand</translation>
    </message>
    <message>
        <source>Health reasons</source>
        <translation>Befund zum Systemzustand</translation>
    </message>
    <message>
        <source>Health checked</source>
        <translation>Systemzustand geprüft</translation>
    </message>
    <message>
        <source>Downloads held</source>
        <translation>Herunterladen zurückgehalten</translation>
    </message>
    <message>
        <source>Postponed for power</source>
        <translation>Wegen Stromversorgung verschoben</translation>
    </message>
    <message>
        <source>Held</source>
        <translation>Zurückgehalten</translation>
    </message>
    <message>
        <source>Postponed</source>
        <translation>Verschoben</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Neustart</translation>
    </message>
    <message>
        <source>Restart waits</source>
        <translation>Neustart wartet</translation>
    </message>
    <message>
        <source>never</source>
        <translation>nie</translation>
    </message>
    <message>
        <source>none planned</source>
        <translation>keiner geplant</translation>
    </message>
    <message>
        <source>no download starts: %1</source>
        <translation>kein Herunterladen, Grund: %1</translation>
    </message>
    <message>
        <source>the last restart did not install for lack of power (%1); connect the power before the next restart</source>
        <translation>beim letzten Neustart wurde mangels Stromversorgung nichts installiert (%1); schließen Sie vor dem nächsten Neustart das Netzteil an</translation>
    </message>
    <message>
        <source>not checked (no upgrade boot since the daemon started)</source>
        <translation>nicht geprüft (seit dem Start des Dienstes kein Neustart mit Aktualisierung)</translation>
    </message>
    <message>
        <source>checking after the upgrade boot</source>
        <translation>wird nach dem Neustart mit Aktualisierung geprüft</translation>
    </message>
    <message>
        <source>unhealthy: %1</source>
        <translation>gestört: %1</translation>
    </message>
    <message>
        <source>healthy</source>
        <translation>in Ordnung</translation>
    </message>
    <message>
        <source>Fleet lock held</source>
        <translation>Neustart-Sperre gehalten</translation>
    </message>
    <message>
        <source>Fleet lock since</source>
        <translation>Neustart-Sperre seit</translation>
    </message>
    <message>
        <source>Fleet lock says</source>
        <translation>Neustart-Sperre meldet</translation>
    </message>
    <message>
        <source>Fleet lock</source>
        <translation>Neustart-Sperre</translation>
    </message>
    <message>
        <source>no slot held</source>
        <translation>kein Platz gehalten</translation>
    </message>
    <message>
        <source>slot held</source>
        <translation>Platz gehalten</translation>
    </message>
    <message>
        <source>slot held since %1 (%2)</source>
        <translation>Platz gehalten seit %1 (%2)</translation>
    </message>
</context>
<context>
    <name>UpdateCtl</name>
    <message>
        <source>no command given</source>
        <translation>kein Befehl angegeben</translation>
    </message>
    <message>
        <source>help takes no options</source>
        <translation>help nimmt keine Optionen</translation>
    </message>
    <message>
        <source>%1 takes only --json</source>
        <translation>%1 nimmt nur --json</translation>
    </message>
    <message>
        <source>arm takes only --timeout SECONDS, 1 to %1</source>
        <translation>arm nimmt nur --timeout SEKUNDEN, 1 bis %1</translation>
    </message>
    <message>
        <source>%1 takes no options</source>
        <translation>%1 nimmt keine Optionen</translation>
    </message>
    <message>
        <source>unknown command: %1</source>
        <translation>unbekannter Befehl: %1</translation>
    </message>
    <message>
        <source>the update daemon is not running (no %1 on the system bus)</source>
        <translation>der Aktualisierungsdienst läuft nicht (kein %1 auf dem Systembus)</translation>
    </message>
    <message>
        <source>%1 failed: %2</source>
        <translation>%1 fehlgeschlagen: %2</translation>
    </message>
    <message>
        <source>the system bus refused the call; ask the administrator, or run the command as root</source>
        <translation>der Systembus hat den Aufruf abgelehnt; fragen Sie den Administrator oder führen Sie den Befehl als root aus</translation>
    </message>
    <message>
        <source>cannot read the daemon&apos;s status: %1</source>
        <translation>der Zustand des Dienstes ist nicht lesbar: %1</translation>
    </message>
    <message>
        <source>The daemon left the bus</source>
        <translation>Der Dienst hat den Bus verlassen</translation>
    </message>
    <message>
        <source>The daemon is back on the bus</source>
        <translation>Der Dienst ist wieder auf dem Bus</translation>
    </message>
    <message>
        <source>arming</source>
        <translation>Vormerken</translation>
    </message>
    <message>
        <source>Checking free space and rehearsing the upgrade...</source>
        <translation>Speicherplatz wird geprüft und die Aktualisierung probeweise durchgespielt …</translation>
    </message>
    <message>
        <source>Armed: the update is installed at the next restart (%1).</source>
        <translation>Vorgemerkt: die Aktualisierung wird beim nächsten Neustart installiert (%1).</translation>
    </message>
    <message>
        <source>not armed (%1): %2.</source>
        <translation>nicht vorgemerkt (%1): %2.</translation>
    </message>
    <message>
        <source>the daemon is now %1, error: %2</source>
        <translation>der Dienst ist jetzt %1, Fehler: %2</translation>
    </message>
    <message>
        <source>the daemon left the bus</source>
        <translation>der Dienst hat den Bus verlassen</translation>
    </message>
    <message>
        <source>not armed within %1 s; the rehearsal may still be running (see &quot;kirta-update-ctl status&quot;)</source>
        <translation>nicht innerhalb von %1 s vorgemerkt; der Probelauf läuft womöglich noch (siehe „kirta-update-ctl status“)</translation>
    </message>
    <message>
        <source>Armed: the update is installed at the next restart.</source>
        <translation>Vorgemerkt: die Aktualisierung wird beim nächsten Neustart installiert.</translation>
    </message>
    <message>
        <source>Armed: release %1 is installed at the next restart.</source>
        <translation>Vorgemerkt: Version %1 wird beim nächsten Neustart installiert.</translation>
    </message>
    <message>
        <source>not armed: %1.</source>
        <translation>nicht vorgemerkt: %1.</translation>
    </message>
    <message>
        <source>disarming</source>
        <translation>Zurücknehmen</translation>
    </message>
    <message>
        <source>Nothing was armed.</source>
        <translation>Nichts war vorgemerkt.</translation>
    </message>
    <message>
        <source>Disarmed: the update is not installed at the next restart.</source>
        <translation>Zurückgenommen: die Aktualisierung wird beim nächsten Neustart nicht installiert.</translation>
    </message>
    <message>
        <source>not disarmed (%1): %2.</source>
        <translation>nicht zurückgenommen (%1): %2.</translation>
    </message>
    <message>
        <source>clearing the result</source>
        <translation>Verwerfen des Ergebnisses</translation>
    </message>
    <message>
        <source>the &quot;%1&quot; result could not be removed (%2).</source>
        <translation>das Ergebnis „%1“ konnte nicht entfernt werden (%2).</translation>
    </message>
    <message>
        <source>Cleared the result of the last offline upgrade.</source>
        <translation>Das Ergebnis der letzten Offline-Aktualisierung wurde verworfen.</translation>
    </message>
    <message>
        <source>No result to clear.</source>
        <translation>Kein Ergebnis zu verwerfen.</translation>
    </message>
    <message>
        <source>postponing the restart</source>
        <translation>Verschieben des Neustarts</translation>
    </message>
    <message>
        <source>Postponed: the automatic restart waits for the next maintenance window.</source>
        <translation>Verschoben: der automatische Neustart wartet auf das nächste Wartungsfenster.</translation>
    </message>
    <message>
        <source>No automatic restart is planned.</source>
        <translation>Es ist kein automatischer Neustart geplant.</translation>
    </message>
    <message>
        <source>not postponed: the deadline has passed; only root may postpone the restart now.</source>
        <translation>nicht verschoben: die Frist ist abgelaufen; nur root darf den Neustart jetzt noch verschieben.</translation>
    </message>
    <message>
        <source>not postponed (%1): unexpected answer.</source>
        <translation>nicht verschoben (%1): unerwartete Antwort.</translation>
    </message>
    <message>
        <source>cancelling the restart</source>
        <translation>Absagen des Neustarts</translation>
    </message>
    <message>
        <source>Cancelled: no automatic restart until the update is armed again.</source>
        <translation>Abgesagt: kein automatischer Neustart, bis die Aktualisierung erneut vorgemerkt wird.</translation>
    </message>
    <message>
        <source>Usage: kirta-update-ctl COMMAND [OPTION]

Shows and steers kirta-update-daemon, which keeps the system up to date with
minor updates, over the system bus.

Commands:
  status [--json]     the daemon&apos;s state, release, deadline, whether the update
                      is armed, and what happens next; --json for scripts
  watch [--json]      print each change as the daemon announces it, until
                      interrupted; --json prints one object per change
  arm [--timeout S]   arm the downloaded update for the next restart; waits up
                      to S seconds (default 300) for the free-space check and
                      the rehearsal of the upgrade
  disarm              do not install the update at the next restart
  clear-result        forget the result of the last offline upgrade
  postpone-restart    move the automatic restart to the next maintenance
                      window (before the deadline; afterwards root only)
  cancel-restart      root: no automatic restart until the update is armed
                      again; an announced restart is called off
  release-lock        root: give the fleet&apos;s reboot lock slot back, kept by a
                      machine that came back unhealthy or whose upgrade
                      failed, once a person has looked
  help                this text

status also tells the health check after the last upgrade boot (healthy, or
unhealthy with the failed units and checks; T_health_settle, Health_rollback),
why no download starts (a metered connection; Download_on_metered), and when
the last restart did not install for lack of power (Battery_min_percent).
Administrator&apos;s health checks: executables in /etc/kirta-update-service/health.d.

Exit status: 0 done, 1 refused or failed (the daemon&apos;s answer is explained),
2 usage error, 3 the daemon is not running.
</source>
        <translation>Aufruf: kirta-update-ctl BEFEHL [OPTION]

Zeigt und steuert über den Systembus kirta-update-daemon, der das System mit
kleineren Aktualisierungen auf dem neuesten Stand hält.

Befehle:
  status [--json]     Zustand des Dienstes, Version, Frist, ob die
                      Aktualisierung vorgemerkt ist und was als Nächstes
                      geschieht; --json für Skripte
  watch [--json]      jede Änderung ausgeben, sobald der Dienst sie meldet, bis
                      zum Abbruch; --json gibt ein Objekt je Änderung aus
  arm [--timeout S]   die heruntergeladene Aktualisierung für den nächsten
                      Neustart vormerken; wartet bis zu S Sekunden (Vorgabe 300)
                      auf die Speicherplatzprüfung und den Probelauf
  disarm              die Aktualisierung beim nächsten Neustart nicht
                      installieren
  clear-result        das Ergebnis der letzten Offline-Aktualisierung verwerfen
  postpone-restart    den automatischen Neustart auf das nächste Wartungsfenster
                      verschieben (vor der Frist; danach nur root)
  cancel-restart      root: kein automatischer Neustart, bis die Aktualisierung
                      erneut vorgemerkt wird; ein angekündigter Neustart wird
                      abgesagt
  release-lock        root: den Platz der Neustart-Sperre der Gruppe zurückgeben,
                      den ein Rechner behält, der gestört zurückkam oder dessen
                      Aktualisierung fehlschlug, sobald jemand nachgesehen hat
  help                dieser Text

status zeigt außerdem die Prüfung des Systemzustands nach dem letzten Neustart
mit Aktualisierung (in Ordnung, oder gestört mit den ausgefallenen Units und
Prüfungen; T_health_settle, Health_rollback), warum nichts heruntergeladen wird
(eine getaktete Verbindung; Download_on_metered) und ob beim letzten Neustart
mangels Stromversorgung nichts installiert wurde (Battery_min_percent).
Prüfungen des Administrators: ausführbare Dateien in
/etc/kirta-update-service/health.d.

Rückgabewert: 0 erledigt, 1 abgelehnt oder fehlgeschlagen (die Antwort des
Dienstes wird erklärt), 2 falscher Aufruf, 3 der Dienst läuft nicht.
</translation>
    </message>
    <message>
        <source>releasing the reboot lock</source>
        <translation>Freigeben der Neustart-Sperre</translation>
    </message>
    <message>
        <source>Giving the reboot lock&apos;s slot back; status shows when it is done.</source>
        <translation>Der Platz der Neustart-Sperre wird zurückgegeben; status zeigt, wann es erledigt ist.</translation>
    </message>
    <message>
        <source>No reboot lock slot is held.</source>
        <translation>Es wird kein Platz der Neustart-Sperre gehalten.</translation>
    </message>
    <message>
        <source>a slot is held but no usable reboot lock is configured to give it back to.</source>
        <translation>ein Platz wird gehalten, aber keine nutzbare Neustart-Sperre ist eingerichtet, an die er zurückgegeben werden könnte.</translation>
    </message>
    <message>
        <source>not released (%1): unexpected answer.</source>
        <translation>nicht freigegeben (%1): unerwartete Antwort.</translation>
    </message>
</context>
<context>
    <name>UpdateNotifier</name>
    <message>
        <source>Clear</source>
        <translation>Verwerfen</translation>
    </message>
    <message>
        <source>Restart now</source>
        <translation>Jetzt neu starten</translation>
    </message>
    <message>
        <source>Postpone</source>
        <translation>Verschieben</translation>
    </message>
</context>
</TS>
