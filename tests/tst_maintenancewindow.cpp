// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// Maintenance windows: the syntax of the key, and when a window opens and
// closes in real zones, across midnight and on both daylight-saving days;
// and the restart settings as read from the configuration record.

#include "maintenancewindow.h"
#include "params.h"
#include "restartconfig.h"

#include <QTest>
#include <QTimeZone>

namespace {
QDateTime utc(const char *iso)
{
    if (!*iso)
        return QDateTime();
    QDateTime moment = QDateTime::fromString(QLatin1String(iso), Qt::ISODate);
    return moment.toUTC();
}
} // namespace

class TestMaintenanceWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void spans_data();
    void spans();
    void badSyntax_data();
    void badSyntax();
    void settings_data();
    void settings();
};

void TestMaintenanceWindow::spans_data()
{
    QTest::addColumn<QString>("windows");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("notBefore");
    QTest::addColumn<QDateTime>("open");
    QTest::addColumn<QDateTime>("close");

    const QByteArray berlin = "Europe/Berlin";
    const QByteArray newYork = "America/New_York";
    const auto row
            = [](const char *name, const char *windows, const QByteArray &zone, const char *now,
                 const char *notBefore, const char *open, const char *close) {
                  QTest::newRow(name) << QString::fromUtf8(windows) << zone << utc(now)
                                      << utc(notBefore) << utc(open) << utc(close);
              };

    // Clocks go forward in Berlin on 29 March 2026 at 02:00 CET (01:00 UTC).
    row("spring: start in the skipped hour opens at the jump", "Sun 02:30-04:00", berlin,
        "2026-03-28T12:00:00Z", "", "2026-03-29T01:00:00Z", "2026-03-29T02:00:00Z");
    row("spring: inside it after the jump", "Sun 02:30-04:00", berlin, "2026-03-29T01:30:00Z", "",
        "2026-03-29T01:00:00Z", "2026-03-29T02:00:00Z");
    row("spring: a span wholly in the skipped hour keeps its length", "Sun 02:00-02:30", berlin,
        "2026-03-28T12:00:00Z", "", "2026-03-29T01:00:00Z", "2026-03-29T01:30:00Z");
    row("spring: the day before is plain CET", "Sat 02:30-04:00", berlin, "2026-03-27T12:00:00Z",
        "", "2026-03-28T01:30:00Z", "2026-03-28T03:00:00Z");
    // Clocks go back on 25 October 2026 at 03:00 CEST (01:00 UTC): 02:00 to
    // 03:00 happens twice.
    row("autumn: repeated hour opens at its first pass", "Sun 02:30-02:45", berlin,
        "2026-10-24T12:00:00Z", "", "2026-10-25T00:30:00Z", "2026-10-25T00:45:00Z");
    row("autumn: the second pass does not open it again", "Sun 02:30-02:45", berlin,
        "2026-10-25T01:35:00Z", "", "2026-11-01T01:30:00Z", "2026-11-01T01:45:00Z");
    row("autumn: a span across the change is an hour longer", "Sun 01:00-04:00", berlin,
        "2026-10-24T12:00:00Z", "", "2026-10-24T23:00:00Z", "2026-10-25T03:00:00Z");
    row("spring in New York", "Sun 02:15-03:15", newYork, "2026-03-07T12:00:00Z", "",
        "2026-03-08T07:00:00Z", "2026-03-08T07:15:00Z");
    // Saturday 6 June 2026, CEST.
    row("across midnight, inside after midnight", "Sat 23:00-01:00", berlin, "2026-06-06T22:30:00Z",
        "", "2026-06-06T21:00:00Z", "2026-06-06T23:00:00Z");
    row("across midnight, just closed", "Sat 23:00-01:00", berlin, "2026-06-06T23:00:00Z", "",
        "2026-06-13T21:00:00Z", "2026-06-13T23:00:00Z");
    row("opening moment is inside", "Sat 23:00-01:00", berlin, "2026-06-06T21:00:00Z", "",
        "2026-06-06T21:00:00Z", "2026-06-06T23:00:00Z");
    row("several windows: the next of them", "Mon,Wed 02:00-04:00; Sat 23:00-01:00", berlin,
        "2026-06-09T10:00:00Z", "", "2026-06-10T00:00:00Z", "2026-06-10T02:00:00Z");
    row("several windows: Saturday comes first", "Mon,Wed 02:00-04:00; Sat 23:00-01:00", berlin,
        "2026-06-10T03:00:00Z", "", "2026-06-13T21:00:00Z", "2026-06-13T23:00:00Z");
    row("range over the week's end", "Fri-Mon 12:00-13:00", berlin, "2026-06-09T12:00:00Z", "",
        "2026-06-12T10:00:00Z", "2026-06-12T11:00:00Z");
    row("whole day up to 24:00", "daily 00:00-24:00", "UTC", "2026-06-09T12:00:00Z", "",
        "2026-06-09T00:00:00Z", "2026-06-10T00:00:00Z");
    row("postponed past the open window", "daily 02:00-04:00", berlin, "2026-06-09T00:30:00Z",
        "2026-06-09T02:00:00Z", "2026-06-10T00:00:00Z", "2026-06-10T02:00:00Z");
    row("lower case and blanks", " mon , wed 2:00-4:00 ;", berlin, "2026-06-09T10:00:00Z", "",
        "2026-06-10T00:00:00Z", "2026-06-10T02:00:00Z");
}

void TestMaintenanceWindow::spans()
{
    QFETCH(QString, windows);
    QFETCH(QByteArray, zone);
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, notBefore);
    QFETCH(QDateTime, open);
    QFETCH(QDateTime, close);

    const QTimeZone timeZone(zone);
    QVERIFY(timeZone.isValid());
    const MaintenanceWindow window = MaintenanceWindow::parse(windows);
    QVERIFY2(window.isValid(), qPrintable(window.errorString()));
    const MaintenanceWindow::Span span = window.spanAt(now, timeZone, notBefore);
    QCOMPARE(span.open, open);
    QCOMPARE(span.close, close);
    QCOMPARE(span.contains(now), open <= now && now < close);
}

void TestMaintenanceWindow::badSyntax_data()
{
    QTest::addColumn<QString>("windows");
    QTest::addColumn<QString>("error");

    QTest::newRow("empty") << ""
                           << "no window given";
    QTest::newRow("only separators") << " ; ;"
                                     << "no window given";
    QTest::newRow("unknown day") << "Mon,Mox 02:00-04:00"
                                 << "unknown day \"Mox\"";
    QTest::newRow("no span") << "Mon"
                             << "expected days and a span";
    QTest::newRow("no end") << "Mon 02:00"
                            << "expected a span HH:MM-HH:MM";
    QTest::newRow("hour 25") << "Mon 25:00-26:00"
                             << "expected a span HH:MM-HH:MM";
    QTest::newRow("24:00 as a start") << "Mon 24:00-01:00"
                                      << "expected a span HH:MM-HH:MM";
    QTest::newRow("empty span") << "Mon 02:00-02:00"
                                << "the span is empty";
    QTest::newRow("odd range") << "Mon-Wed-Fri 02:00-03:00"
                               << "unknown day";
    QTest::newRow("one bad among good") << "Mon 02:00-04:00; Sat 23:00-1"
                                        << "\"Sat 23:00-1\"";
}

void TestMaintenanceWindow::badSyntax()
{
    QFETCH(QString, windows);
    QFETCH(QString, error);

    const MaintenanceWindow window = MaintenanceWindow::parse(windows);
    QVERIFY(!window.isValid());
    QVERIFY2(window.errorString().contains(error), qPrintable(window.errorString()));
    // A window that cannot be read never opens.
    QVERIFY(!window.spanAt(QDateTime::currentDateTimeUtc(), QTimeZone("UTC")).isValid());
}

void TestMaintenanceWindow::settings_data()
{
    QTest::addColumn<QString>("policy");
    QTest::addColumn<QString>("windows");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("error");

    const int never = int(RestartConfig::Mode::Never);
    QTest::newRow("default") << "never"
                             << "" << never << "";
    QTest::newRow("never ignores the windows") << "never"
                                               << "Mox 1-2" << never << "";
    QTest::newRow("in the window") << "in-window"
                                   << "Sat 23:00-01:00" << int(RestartConfig::Mode::InWindow) << "";
    QTest::newRow("after the deadline, any case")
            << "After-Deadline"
            << "daily 02:00-03:00" << int(RestartConfig::Mode::AfterDeadline) << "";
    QTest::newRow("unknown word is never")
            << "always"
            << "daily 02:00-03:00" << never
            << "Restart_policy = \"always\" is not one of never, after-deadline, in-window; no "
               "automatic restart";
    QTest::newRow("a policy without windows is never")
            << "in-window"
            << "" << never
            << "Maintenance_windows: no window given; no automatic "
               "restart";
    QTest::newRow("a bad window is never")
            << "after-deadline"
            << "Mon 02:00-02:00" << never
            << "Maintenance_windows: \"Mon 02:00-02:00\": the span is empty; no automatic restart";
}

void TestMaintenanceWindow::settings()
{
    QFETCH(QString, policy);
    QFETCH(QString, windows);
    QFETCH(int, mode);
    QFETCH(QString, error);

    Params params;
    params.restart_policy = {true, policy};
    params.maintenance_windows = {true, windows};
    params.restart_announce = {true, 7};
    params.restart_min_battery = {true, 45};
    const RestartConfig config = RestartConfig::fromParams(params);
    QCOMPARE(int(config.mode), mode);
    QCOMPARE(config.error, error);
    QCOMPARE(config.announce, std::chrono::minutes(7));
    QCOMPARE(config.minBatteryPercent, 45);
}

QTEST_GUILESS_MAIN(TestMaintenanceWindow)
#include "tst_maintenancewindow.moc"
