// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "noticedesk.h"
#include "toolenvironment.h"
#include "waituntil.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

// kirta-update-ctl and kirta-update-notifier in the user's language. The
// German locale is compiled into a directory of the test's own (LOCPATH), so
// the machine's locales stay as they are; the programs meet a stand-in of the
// daemon's object on a private system bus and python3-dbusmock's
// notification daemon on a private session bus.

namespace {
const int WAIT_MS = 20000;

QString utcText(qint64 seconds, const QString &format)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(format)
           + QStringLiteral(" UTC");
}

// The lines of `status` as label and value.
using Screen = QVector<QPair<QString, QString>>;

// `base` with the values of `changes` in place of those under the same
// label; a label that `base` lacks goes before its last two lines (the
// restart and what comes next), where the lines shown only now and then
// stand.
Screen changed(Screen base, const Screen &changes)
{
    for (const auto &change : changes) {
        const auto same = std::find_if(base.begin(), base.end(), [&](const auto &line) {
            return line.first == change.first;
        });
        if (same != base.end())
            same->second = change.second;
        else
            base.insert(base.size() - 2, change);
    }
    return base;
}

// Each label and its colon padded to `width`, so that the values line up.
QStringList laidOut(const Screen &screen, int width)
{
    QStringList lines;
    for (const auto &line : screen)
        lines << QStringLiteral("%1 %2")
                         .arg(line.first + QLatin1Char(':'), -width)
                         .arg(line.second);
    return lines;
}

// The names a reader types or looks up, whatever the language: commands,
// options, configuration keys and paths.
QSet<QString> fixedWords(const QString &usage)
{
    static const QRegularExpression word(QStringLiteral(
            "(?m)^  "
            "([a-z][a-z-]+)|(--[a-z]+)|\\b([A-Z][A-Za-z]*_[A-Za-z_]+)\\b|(/[a-z][\\w./-]*\\w)"));
    QSet<QString> words;
    auto matches = word.globalMatch(usage);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        for (int group = 1; group <= 4; ++group)
            if (match.capturedLength(group) > 0)
                words << match.captured(group);
    }
    return words;
}

// %1 to %9 and %n of a text, each once: a translation that drops one loses
// the value, one that adds one shows a stray "%2".
QSet<QString> placeholders(const QString &text)
{
    static const QRegularExpression placeholder(QStringLiteral("%[1-9n]"));
    QSet<QString> found;
    auto matches = placeholder.globalMatch(text);
    while (matches.hasNext())
        found << matches.next().captured();
    return found;
}
} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

    NoticeDesk desk;
    StatusStandIn *daemon = &desk.daemon();
    QTemporaryDir dir;
    QString locales;

    QProcessEnvironment environment(const QString &lang) const
    {
        QProcessEnvironment env = withLocale(QProcessEnvironment::systemEnvironment(), lang);
        env.insert(QStringLiteral("LOCPATH"), locales);
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        return env;
    }

    QStringList notifyCalls() const
    {
        return desk.notices().filter(QRegularExpression(QStringLiteral("^Notify ")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        locales = dir.filePath(QStringLiteral("locales"));
        QVERIFY(QDir().mkpath(locales));
        QProcess localedef;
        localedef.setProcessChannelMode(QProcess::MergedChannels);
        localedef.start(QStringLiteral("localedef"),
                        {"-i", "de_DE", "-f", "UTF-8", locales + QStringLiteral("/de_DE.UTF-8")});
        QVERIFY(localedef.waitForFinished(60000));
        // localedef exits 1 on warnings with a usable result; the locale's
        // files are what counts.
        QVERIFY2(
                QFile::exists(locales + QStringLiteral("/de_DE.UTF-8/LC_MESSAGES/SYS_LC_MESSAGES")),
                localedef.readAll().constData());

        QVERIFY2(desk.start(), qPrintable(desk.errorString()));
    }

    // Three situations in each language: ready, with nothing in the way;
    // armed again after a boot on battery, with a restart announced; and
    // held back on a metered connection after an upgrade that left the system
    // unhealthy. The daemon's own words (the state, what holds or blocks)
    // stay as the bus says them; every label and every sentence of ours is
    // translated, so an untranslated text shows up as English in a German
    // row.
    void status_data()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const qint64 deadline = now + 2 * 86400 + 3600;
        const qint64 checked = now - 5 * 60 - 10;
        const qint64 restart = now + 20 * 60 + 30;
        const QString restartAt
                = QDateTime::fromSecsSinceEpoch(restart, Qt::UTC).toString(QStringLiteral("hh:mm"));
        const QString announced = QStringLiteral("users logged in, announced for ") + restartAt;
        const QVariantMap ready {
                {"State", 4},           {"StateName", "ready"},
                {"Error", -1},          {"TargetRelease", "12.4"},
                {"Deadline", deadline}, {"Forced", false},
                {"Armed", false},       {"Packages", QStringList {"hello-kirta", "kirta-version"}},
                {"LastCheck", checked}, {"LastResult", "unsuccessful"}};
        QVariantMap armed = ready;
        armed.insert({{"State", 5},
                      {"StateName", "activated"},
                      {"Armed", true},
                      {"LastResult", "none"},
                      {"PostponedForPower", "battery at 12 %"},
                      {"RestartPlanned", restart},
                      {"RestartBlocker", announced}});
        QVariantMap held = ready;
        held.insert({{"State", 2},
                     {"StateName", "wait-for-download"},
                     {"Deadline", qint64(0)},
                     {"Packages", QStringList()},
                     {"LastResult", "successful"},
                     {"Health", "unhealthy"},
                     {"HealthReasons",
                      QStringList {"unit web.service failed", "check 10-http failed (exit 1)"}},
                     {"DownloadHeld", "metered connection"},
                     {"RestartBlocker", "outside the maintenance window, next Tue 02:00"}});

        QTest::addColumn<QString>("lang");
        QTest::addColumn<QVariantMap>("properties");
        QTest::addColumn<QStringList>("expected");
        // German: the words of a German desktop, the date as Germans write
        // it, and the values moved right past the longest label.
        const QString german = QStringLiteral("de_DE.UTF-8");
        const Screen germanReady {
                {"Zustand", "ready (heruntergeladen, nicht vorgemerkt)"},
                {"Fehler", "keine"},
                {"Version", "12.4"},
                {"Frist", utcText(deadline, "dd.MM.yy HH:mm") + " (in 2 Tagen)"},
                {"Vorgemerkt", "nein"},
                {"Erzwungen", "nein"},
                {"Pakete", "2"},
                {"Letzte Prüfung", utcText(checked, "dd.MM.yy HH:mm") + " (vor 5 Minuten)"},
                {"Letztes Ergebnis", "fehlgeschlagen"},
                {"Systemzustand",
                 "nicht geprüft (seit dem Start des Dienstes kein Neustart mit Aktualisierung)"},
                {"Neustart", "keiner geplant"},
                {"Als Nächstes", "Version 12.4 wird zur Frist vorgemerkt, oder sofort mit "
                                 "„kirta-update-ctl arm“."}};
        QTest::newRow("German, ready") << german << ready << laidOut(germanReady, 17);
        QTest::newRow("German, armed, restart announced")
                << german << armed
                << laidOut(changed(germanReady,
                                   {{"Zustand", "activated (für den nächsten Neustart vorgemerkt)"},
                                    {"Vorgemerkt", "ja"},
                                    {"Letztes Ergebnis", "keine"},
                                    {"Verschoben",
                                     "beim letzten Neustart wurde mangels Stromversorgung nichts "
                                     "installiert (battery at 12 %); schließen Sie vor dem "
                                     "nächsten Neustart das Netzteil an"},
                                    {"Neustart", utcText(restart, "dd.MM.yy HH:mm")
                                                         + " (in 20 Minuten); " + announced},
                                    {"Als Nächstes",
                                     "Version 12.4 wird beim nächsten Neustart installiert; "
                                     "„kirta-update-ctl disarm“ verschiebt sie."}}),
                           17);
        QTest::newRow("German, held, unhealthy")
                << german << held
                << laidOut(changed(germanReady,
                                   {{"Zustand",
                                     "wait-for-download (Aktualisierungen gefunden, Herunterladen "
                                     "geplant)"},
                                    {"Frist", "nicht gesetzt"},
                                    {"Pakete", "0"},
                                    {"Letztes Ergebnis", "erfolgreich"},
                                    {"Systemzustand",
                                     "gestört: unit web.service failed; check 10-http failed "
                                     "(exit 1)"},
                                    {"Zurückgehalten",
                                     "kein Herunterladen, Grund: metered connection"},
                                    {"Neustart", "outside the maintenance window, next Tue 02:00"},
                                    {"Als Nächstes",
                                     "Sobald die Pakete heruntergeladen sind, kann die "
                                     "Aktualisierung vorgemerkt werden."}}),
                           17);

        // One of each: the singular comes from the English catalogue.
        const QString english = QStringLiteral("en_US.UTF-8");
        const Screen englishReady {
                {"State", "ready (downloaded, not armed)"},
                {"Error", "none"},
                {"Release", "12.4"},
                {"Deadline", utcText(now + 86400 + 60, "yyyy-MM-dd hh:mm") + " (in 1 day)"},
                {"Armed", "no"},
                {"Forced", "no"},
                {"Packages", "2"},
                {"Last check", utcText(now - 3600 - 10, "yyyy-MM-dd hh:mm") + " (1 hour ago)"},
                {"Last result", "unsuccessful"},
                {"Health", "not checked (no upgrade boot since the daemon started)"},
                {"Restart", "none planned"},
                {"Next",
                 "Release 12.4 is armed at the deadline, or now with \"kirta-update-ctl arm\"."}};
        const QVariantMap englishTimes {{"Deadline", now + 86400 + 60},
                                        {"LastCheck", now - 3600 - 10}};
        QVariantMap englishReadyProperties = ready;
        englishReadyProperties.insert(englishTimes);
        QTest::newRow("English, ready")
                << english << englishReadyProperties << laidOut(englishReady, 12);
        armed.insert(englishTimes);
        QTest::newRow("English, armed, restart announced")
                << english << armed
                << laidOut(changed(englishReady,
                                   {{"State", "activated (armed for the next restart)"},
                                    {"Armed", "yes"},
                                    {"Last result", "none"},
                                    {"Postponed",
                                     "the last restart did not install for lack of power (battery "
                                     "at 12 %); connect the power before the next restart"},
                                    {"Restart", utcText(restart, "yyyy-MM-dd hh:mm")
                                                        + " (in 20 minutes); " + announced},
                                    {"Next", "Release 12.4 is installed at the next restart; "
                                             "\"kirta-update-ctl disarm\" postpones it."}}),
                           12);
        held.insert({{"LastCheck", now - 3600 - 10}});
        QTest::newRow("English, held, unhealthy")
                << english << held
                << laidOut(changed(englishReady,
                                   {{"State", "wait-for-download (updates found, download "
                                              "scheduled)"},
                                    {"Deadline", "not set"},
                                    {"Packages", "0"},
                                    {"Last result", "successful"},
                                    {"Health", "unhealthy: unit web.service failed; check "
                                               "10-http failed (exit 1)"},
                                    {"Held", "no download starts: metered connection"},
                                    {"Restart", "outside the maintenance window, next Tue 02:00"},
                                    {"Next", "Once the packages are downloaded the update can "
                                             "be armed."}}),
                           12);

        // A language without a catalogue reads English, with its plurals;
        // the dates are still the locale's.
        QVariantMap french = ready;
        french.insert({{"Deadline", now + 3 * 86400 + 60}, {"LastCheck", now - 7200 - 10}});
        QTest::newRow("no catalogue")
                << "fr_FR.UTF-8" << french
                << laidOut(changed(englishReady,
                                   {{"Deadline", utcText(now + 3 * 86400 + 60, "dd/MM/yyyy HH:mm")
                                                         + " (in 3 days)"},
                                    {"Last check", utcText(now - 7200 - 10, "dd/MM/yyyy HH:mm")
                                                           + " (2 hours ago)"}}),
                           12);
    }

    void status()
    {
        QFETCH(QString, lang);
        QFETCH(QVariantMap, properties);
        QFETCH(QStringList, expected);
        daemon->reset();
        daemon->set(properties);
        QProcess ctl;
        startUpdateCtl(ctl, {"status"}, environment(lang));
        KIRTA_WAIT_VERIFY(ctl.state() == QProcess::NotRunning, WAIT_MS);
        QCOMPARE(QString::fromUtf8(ctl.readAllStandardError()), QString());
        QStringList lines = QString::fromUtf8(ctl.readAllStandardOutput()).split('\n');
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines, expected);
        QCOMPARE(ctl.exitCode(), 0);
    }

    void usageError_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<QString>("usageLine");
        QTest::newRow("German") << "de_DE.UTF-8"
                                << "kirta-update-ctl: unbekannter Befehl: reboot"
                                << "Aufruf: kirta-update-ctl BEFEHL [OPTION]";
        QTest::newRow("English") << "C.UTF-8"
                                 << "kirta-update-ctl: unknown command: reboot"
                                 << "Usage: kirta-update-ctl COMMAND [OPTION]";
    }

    void usageError()
    {
        QFETCH(QString, lang);
        QFETCH(QString, firstLine);
        QFETCH(QString, usageLine);
        QProcess ctl;
        startUpdateCtl(ctl, {"reboot"}, environment(lang));
        KIRTA_WAIT_VERIFY(ctl.state() == QProcess::NotRunning, WAIT_MS);
        const QStringList lines = QString::fromUtf8(ctl.readAllStandardError()).split('\n');
        QVERIFY(lines.size() > 3);
        QCOMPARE(lines.at(0), firstLine);
        QCOMPARE(lines.at(2), usageLine);
        QCOMPARE(ctl.exitCode(), 2);
    }

    // The German help is a translation of today's English one: it names the
    // same commands, options, keys and paths. A help that gained a command
    // in English but kept an older translation fails here.
    void usageGerman()
    {
        QString help[2];
        const char *const langs[] = {"C.UTF-8", "de_DE.UTF-8"};
        for (int i = 0; i < 2; ++i) {
            QProcess ctl;
            startUpdateCtl(ctl, {"help"}, environment(QLatin1String(langs[i])));
            KIRTA_WAIT_VERIFY(ctl.state() == QProcess::NotRunning, WAIT_MS);
            QCOMPARE(ctl.exitCode(), 0);
            help[i] = QString::fromUtf8(ctl.readAllStandardOutput());
        }
        QVERIFY(help[0].startsWith("Usage: kirta-update-ctl COMMAND [OPTION]\n"));
        QVERIFY2(help[1].startsWith("Aufruf: kirta-update-ctl BEFEHL [OPTION]\n"),
                 qPrintable(help[1]));
        const QSet<QString> english = fixedWords(help[0]);
        // The commands the program takes, so that the comparison below
        // compares something.
        for (const char *command : {"status", "watch", "arm", "disarm", "clear-result",
                                    "postpone-restart", "cancel-restart", "help"})
            QVERIFY2(english.contains(QLatin1String(command)), command);
        QVERIFY(english.contains("Battery_min_percent"));
        QVERIFY(english.contains("/etc/kirta-update-service/health.d"));
        QCOMPARE(fixedWords(help[1]), english);
    }

    // The notices as the desktop gets them: an armed upgrade, a restart
    // announced to the people logged in (counted down, with its actions),
    // and the notices after a boot on battery and after an unhealthy one.
    void notice_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QVariantMap>("properties");
        // Seconds from now to the planned restart, 0 for none.
        QTest::addColumn<int>("restartIn");
        QTest::addColumn<QStringList>("expected");
        const QVariantMap armed {{"State", 5},
                                 {"StateName", "activated"},
                                 {"TargetRelease", "12.4"},
                                 {"Deadline", QDateTime::currentSecsSinceEpoch() + 86400},
                                 {"Forced", false},
                                 {"Armed", true},
                                 {"LastResult", "none"}};
        const QString armedGerman = NoticeDesk::notify(
                "Aktualisierungen werden beim nächsten Neustart installiert",
                "Version 12.4 ist heruntergeladen und wird beim Neustart des Rechners "
                "installiert.");
        const QString armedEnglish = NoticeDesk::notify(
                "Updates will be installed at the next restart",
                "Release 12.4 is downloaded and is installed when the computer restarts.");
        QTest::newRow("German, armed") << "de_DE.UTF-8" << armed << 0 << QStringList {armedGerman};
        QTest::newRow("English, armed") << "C.UTF-8" << armed << 0 << QStringList {armedEnglish};
        // %1 stands for the time of the restart.
        QTest::newRow("German, restart in 16 minutes")
                << "de_DE.UTF-8" << armed << 15 * 60 + 50
                << QStringList {armedGerman,
                                NoticeDesk::notify(
                                        "Der Rechner startet um %1 neu, um Aktualisierungen zu "
                                        "installieren",
                                        "Bitte sichern Sie Ihre Arbeit. Noch 16 Minuten.",
                                        {"restart-now", "Jetzt neu starten", "postpone",
                                         "Verschieben"})};
        QTest::newRow("English, restart in a minute")
                << "C.UTF-8" << armed << 50
                << QStringList {armedEnglish,
                                NoticeDesk::notify(
                                        "The computer restarts at %1 to install updates",
                                        "Save your work. 1 minute left.",
                                        {"restart-now", "Restart now", "postpone", "Postpone"})};
        const QVariantMap afterBoots {{"State", 4},
                                      {"StateName", "ready"},
                                      {"TargetRelease", "12.4"},
                                      {"Armed", false},
                                      {"LastResult", "none"},
                                      {"PostponedForPower", "battery at 12 %"},
                                      {"Health", "unhealthy"},
                                      {"HealthReasons", QStringList {"unit web.service failed"}}};
        QTest::newRow("German, power and health")
                << "de_DE.UTF-8" << afterBoots << 0
                << QStringList {
                           NoticeDesk::notify(
                                   "Schließen Sie das Netzteil an, um Aktualisierungen zu "
                                   "installieren",
                                   "Version 12.4 wurde beim letzten Neustart nicht installiert, "
                                   "weil der Akku zu schwach war. Bitte schließen Sie das "
                                   "Netzteil an, bevor Sie den Rechner neu starten."),
                           NoticeDesk::notify("Das System hat nach der Aktualisierung Probleme",
                                              "Nach den beim letzten Neustart installierten "
                                              "Aktualisierungen: unit web.service failed. Bitte "
                                              "benachrichtigen Sie den Administrator.")};
    }

    void notice()
    {
        QFETCH(QString, lang);
        QFETCH(QVariantMap, properties);
        QFETCH(int, restartIn);
        QFETCH(QStringList, expected);
        daemon->reset();
        daemon->set(properties);
        if (restartIn > 0) {
            const qint64 planned = QDateTime::currentSecsSinceEpoch() + restartIn;
            const QString at = QDateTime::fromSecsSinceEpoch(planned, Qt::UTC)
                                       .toString(QStringLiteral("hh:mm"));
            daemon->set({{"RestartPlanned", planned},
                         {"RestartBlocker", "users logged in, announced for " + at}});
            for (QString &line : expected)
                if (line.contains("%1"))
                    line = line.arg(at);
        }
        const int before = notifyCalls().size();
        QProcess notifier;
        notifier.setProcessEnvironment(busClientEnvironment(environment(lang)));
        notifier.setProcessChannelMode(QProcess::ForwardedChannels);
        notifier.start(qEnvironmentVariable("KIRTA_BIN_DIR")
                               + QStringLiteral("/kirta-update-notifier"),
                       QStringList());
        // What the daemon's status holds at login is told at once.
        const bool shown = waitUntil(
                [&] { return notifyCalls().size() >= before + expected.size(); }, WAIT_MS);
        notifier.kill();
        notifier.waitForFinished();
        QVERIFY2(shown, qPrintable(notifyCalls().mid(before).join('\n')));
        QCOMPARE(notifyCalls().mid(before), expected);
    }

    // Every text of the command and the notices has a German translation
    // that keeps its placeholders, and every counted English text its two
    // forms: the catalogues are refreshed from the sources into a copy, as
    // the update-translations target does, so a text added without a
    // translation fails here even where no other test shows it.
    void catalogues_data()
    {
        QTest::addColumn<QString>("catalogue");
        QTest::addColumn<bool>("pluralOnly");
        QTest::newRow("German") << "kirta-update_de.ts" << false;
        QTest::newRow("English plurals") << "kirta-update_en.ts" << true;
    }

    void catalogues()
    {
        QFETCH(QString, catalogue);
        QFETCH(bool, pluralOnly);
        const QString source = qEnvironmentVariable("KIRTA_SOURCE_DIR");
        const QString copy = dir.filePath(catalogue);
        QFile::remove(copy);
        QVERIFY(QFile::copy(source + "/translations/" + catalogue, copy));
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments {"-locations", "none", "-no-obsolete"};
        if (pluralOnly)
            arguments << "-pluralonly";
        lupdate.start(QStringLiteral(KIRTA_LUPDATE), arguments << source + "/control"
                                                               << source + "/notifier"
                                                               << "-ts" << copy);
        QVERIFY(lupdate.waitForFinished(60000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

        QFile file(copy);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QStringList faults;
        int messages = 0;
        QString context;
        QString text;
        bool numerus = false;
        QStringList forms;
        bool unfinished = false;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isEndElement()) {
                if (xml.name() != QLatin1String("message"))
                    continue;
                ++messages;
                const QString where = context + QStringLiteral(": ") + text.left(60);
                if (unfinished)
                    faults << QStringLiteral("not translated: ") + where;
                if (numerus && forms.size() != 2)
                    faults << QStringLiteral("%1 forms instead of 2: ").arg(forms.size()) + where;
                for (const QString &form : qAsConst(forms)) {
                    if (form.trimmed().isEmpty())
                        faults << QStringLiteral("empty: ") + where;
                    else if (placeholders(form) != placeholders(text))
                        faults << QStringLiteral("placeholders differ: ") + where
                                          + QStringLiteral(" -> ") + form;
                }
                continue;
            }
            if (!xml.isStartElement())
                continue;
            const auto name = xml.name();
            if (name == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (name == QLatin1String("message")) {
                numerus = xml.attributes().value("numerus") == QLatin1String("yes");
                forms.clear();
                unfinished = false;
            } else if (name == QLatin1String("source")) {
                text = xml.readElementText();
            } else if (name == QLatin1String("translation")) {
                const auto type = xml.attributes().value("type");
                unfinished = !type.isEmpty();
                if (!numerus)
                    forms << xml.readElementText();
            } else if (name == QLatin1String("numerusform")) {
                forms << xml.readElementText();
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        // German carries every text, English the counted ones.
        QVERIFY2(messages > (pluralOnly ? 5 : 100), qPrintable(QString::number(messages)));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestLanguage)
#include "tst_language.moc"
