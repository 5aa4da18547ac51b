// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "configkeys.h"
#include "logger.h"
#include "params.h"
#include "settingscontroller.h"
#include "sysroot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>

namespace {

const char *const WRITER_MODE = "--sync-writer";
using Edit = std::function<void(Params &)>;

QDateTime minuteTime(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute));
}

QString fieldLine(const char *name, bool flag, const QVariant &value)
{
    const QString text = value.type() == QVariant::DateTime
                                 ? value.toDateTime().toString(Qt::ISODate)
                                 : value.toString();
    return QStringLiteral("%1=%2/%3").arg(QLatin1String(name)).arg(flag).arg(text);
}

// Every field of the record, one per line, for readable comparisons.
QString dump(const Params &p)
{
    QStringList out;
#define KIRTA_FIELD(f) out << fieldLine(#f, p.f.first, QVariant(p.f.second))
    KIRTA_FIELD(t_check);
    KIRTA_FIELD(t_download_min);
    KIRTA_FIELD(t_download_max);
    KIRTA_FIELD(t_retry);
    KIRTA_FIELD(t_end_check);
    KIRTA_FIELD(t_delay);
    KIRTA_FIELD(action_on_error);
    KIRTA_FIELD(snapshot);
    KIRTA_FIELD(always_new_update);
    KIRTA_FIELD(free_space_policy);
    KIRTA_FIELD(use_sources_list_d);
    KIRTA_FIELD(host_to_ping);
    KIRTA_FIELD(upgrade_time_stamp);
    KIRTA_FIELD(extra_repos);
    KIRTA_FIELD(extra_repos_policy);
    KIRTA_FIELD(log_level);
    KIRTA_FIELD(retry_time_stamp);
    KIRTA_FIELD(metrics_file);
    KIRTA_FIELD(reboot_lock);
    KIRTA_FIELD(reboot_lock_servers);
    KIRTA_FIELD(reboot_lock_group);
    KIRTA_FIELD(reboot_lock_id);
    KIRTA_FIELD(reboot_lock_slots);
    KIRTA_FIELD(reboot_lock_user);
    KIRTA_FIELD(reboot_lock_password_file);
    KIRTA_FIELD(reboot_lock_ca_file);
    KIRTA_FIELD(download_on_metered);
    KIRTA_FIELD(battery_min_percent);
    KIRTA_FIELD(t_health_settle);
    KIRTA_FIELD(health_rollback);
    KIRTA_FIELD(restart_policy);
    KIRTA_FIELD(maintenance_windows);
    KIRTA_FIELD(restart_announce);
    KIRTA_FIELD(restart_min_battery);
#undef KIRTA_FIELD
    return out.join(QLatin1Char('\n'));
}

void parseRow(const char *name, const QByteArray &content, const char *fields,
              const char *warning = "")
{
    QTest::newRow(name) << content << QString::fromUtf8(fields) << QString::fromUtf8(warning);
}

void editRow(const char *name, const QByteArray &before, const QByteArray &after, Edit edit)
{
    QTest::newRow(name) << before << edit << after;
}

// Two records that differ in every field, for round trips and the crash test.
Params recordA()
{
    Params p;
    p.t_check = {true, 15};
    p.t_download_min = {true, 1};
    p.t_download_max = {true, 35000};
    p.t_retry = {true, 7};
    p.t_end_check = {true, 3};
    p.t_delay = {true, 0};
    p.action_on_error = {true, 0};
    p.snapshot = {true, true};
    p.always_new_update = {true, false};
    p.free_space_policy = {true, 2};
    p.use_sources_list_d = {true, 0};
    p.host_to_ping = {true, QStringLiteral("mirror.example.test")};
    p.upgrade_time_stamp = {true, minuteTime(2031, 4, 5, 6, 7)};
    p.extra_repos = {true, QStringLiteral("/opt/a.list,/opt/b c.list, /opt/d.list")};
    p.extra_repos_policy = {true, 1};
    p.log_level = {true, QStringLiteral("Debug")};
    p.retry_time_stamp = {true, minuteTime(2030, 12, 31, 23, 59)};
    p.metrics_file = {true, QStringLiteral("/var/lib/prometheus/node-exporter/kirta-update.prom")};
    p.reboot_lock = {true, QStringLiteral("etcd")};
    p.reboot_lock_servers = {true, QStringLiteral("https://10.0.0.1:2379,https://10.0.0.2:2379")};
    p.reboot_lock_group = {true, QStringLiteral("web-1")};
    p.reboot_lock_id = {true, QStringLiteral("4f2e")};
    p.reboot_lock_slots = {true, 3};
    p.reboot_lock_user = {true, QStringLiteral("kirta")};
    p.reboot_lock_password_file = {true, QStringLiteral("/etc/kirta-update-service/etcd.pw")};
    p.reboot_lock_ca_file = {true, QStringLiteral("/etc/ssl/fleet.pem")};
    p.download_on_metered = {true, true};
    p.battery_min_percent = {true, 35};
    p.t_health_settle = {true, 0};
    p.health_rollback = {true, false};
    p.restart_policy = {true, QStringLiteral("in-window")};
    p.maintenance_windows = {true, QStringLiteral("Mon,Wed 02:00-04:00; Sat 23:00-01:00")};
    p.restart_announce = {true, 5};
    p.restart_min_battery = {true, 50};
    return p;
}

Params recordB()
{
    Params p;
    p.t_check = {true, 240};
    p.t_download_min = {true, 0};
    p.t_download_max = {true, 5};
    p.t_retry = {true, 24};
    p.t_end_check = {true, 1};
    p.t_delay = {true, 14};
    p.action_on_error = {true, 2};
    p.snapshot = {true, false};
    p.always_new_update = {true, true};
    p.free_space_policy = {true, -1};
    p.use_sources_list_d = {true, 1};
    p.host_to_ping = {true, QStringLiteral("192.0.2.1")};
    p.upgrade_time_stamp = {true, minuteTime(2029, 1, 2, 0, 0)};
    p.extra_repos = {true, QStringLiteral("  \"quoted\" with spaces  ")};
    p.extra_repos_policy = {true, 0};
    p.log_level = {true, QStringLiteral("ERROR")};
    p.retry_time_stamp = {true, minuteTime(2028, 2, 29, 12, 30)};
    p.metrics_file = {true, QString()};
    p.reboot_lock = {true, QStringLiteral("fleetlock")};
    p.reboot_lock_servers = {true, QStringLiteral("http://127.0.0.1:8080")};
    p.reboot_lock_group = {true, QStringLiteral("default")};
    p.reboot_lock_id = {true, QString()};
    p.reboot_lock_slots = {true, 2};
    p.reboot_lock_user = {true, QString()};
    p.reboot_lock_password_file = {true, QString()};
    p.reboot_lock_ca_file = {true, QStringLiteral(" spaced.pem ")};
    p.download_on_metered = {true, false};
    p.battery_min_percent = {true, 0};
    p.t_health_settle = {true, 45};
    p.health_rollback = {true, true};
    p.restart_policy = {true, QStringLiteral("after-deadline")};
    p.maintenance_windows = {true, QStringLiteral("daily 03:00-03:30")};
    p.restart_announce = {true, 0};
    p.restart_min_battery = {true, 0};
    return p;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

// Inode and modification time: a rewrite changes at least one of them.
// `age` first moves the modification time an hour back, so that a rewrite
// cannot hide in the same clock tick.
QString fileIdentity(const QString &path, bool age = false)
{
    const QByteArray name = QFile::encodeName(path);
    struct timeval times[2];
    ::gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= 3600;
    times[1] = times[0];
    struct stat st
    {
    };
    if ((age && ::utimes(name.constData(), times) != 0) || ::stat(name.constData(), &st) != 0)
        return QStringLiteral("missing");
    return QStringLiteral("%1/%2.%3")
            .arg(qulonglong(st.st_ino))
            .arg(qlonglong(st.st_mtim.tv_sec))
            .arg(qlonglong(st.st_mtim.tv_nsec));
}

// Child mode of the crash test: alternates the two records as fast as it can
// and reports every finished sync on stdout until it is killed.
int runSyncWriter(const char *path)
{
    SettingsController store(QFile::decodeName(path));
    const Params records[2] = {recordA(), recordB()};
    QElapsedTimer lifetime;
    lifetime.start();
    for (qint64 i = 0; lifetime.elapsed() < 30000; ++i) {
        store.setParams(records[i % 2]);
        if (!store.sync())
            return 2;
        std::printf("%lld\n", static_cast<long long>(i));
        std::fflush(stdout);
    }
    return 1; // never killed: the parent is gone
}

} // namespace

Q_DECLARE_METATYPE(Params)
Q_DECLARE_METATYPE(Edit)

class TestSettingsController : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString newPath()
    {
        return m_dir.filePath(QStringLiteral("settings-%1.conf").arg(++m_fileNumber));
    }

    QString fileWith(const QByteArray &content)
    {
        const QString path = newPath();
        if (!writeFile(path, content))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qRegisterMetaType<Params>();
    }

    void defaultPath()
    {
        QCOMPARE(SettingsController().filePath(),
                 Sysroot::path(
                         QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf")));
    }

    void parseKey_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("fields"); // set fields, ';' between; the rest keep defaults
        QTest::addColumn<QString>("warning"); // empty: none; else the one warning contains it

        parseRow("int blanks", "  T_check  =   45  \n", "t_check=1/45");
        parseRow("int quoted", "T_check=\"30\"", "t_check=1/30");
        parseRow("int zero and max", "T_download_min=0\nT_retry=2147483647\n",
                 "t_download_min=1/0;t_retry=1/2147483647");
        parseRow("int text", "T_check=abc\n", "", "\"abc\" for key T_check");
        parseRow("int overflow", "T_delay=2147483648\n", "", "\"2147483648\" for key T_delay");
        parseRow("count negative", "T_retry=-1\n", "", "\"-1\" for key T_retry");
        parseRow("int empty", "T_delay=\n", "", "\"\" for key T_delay");
        parseRow("policy negative", "Free_space_policy=-3\n", "free_space_policy=1/-3");
        parseRow("key wrong case", "t_check=5\n", "");

        parseRow("action stop", "Action_on_error=Stop", "action_on_error=1/1");
        parseRow("action reset lower", "Action_on_error = reset", "action_on_error=1/2");
        parseRow("action retry upper", "Action_on_error=RETRY", "action_on_error=1/0");
        parseRow("action number", "Action_on_error=2", "", "\"2\" for key Action_on_error");

        parseRow("bool true words", "Snapshot=yes\nAlways_new_update=ON",
                 "snapshot=1/true;always_new_update=1/true");
        parseRow("bool 1", "Always_new_update=1", "always_new_update=1/true");
        parseRow("bool false words", "Snapshot=False\nAlways_new_update=off",
                 "snapshot=1/false;always_new_update=1/false");
        parseRow("bool 0", "Snapshot=0", "snapshot=1/false");
        parseRow("bool 2", "Always_new_update=2", "", "\"2\" for key Always_new_update");

        parseRow("host lower", "host_to_ping = 8.8.4.4", "host_to_ping=1/8.8.4.4");
        parseRow("host both", "Host_to_ping=a.test\nhost_to_ping=b.test\n",
                 "host_to_ping=1/a.test");
        parseRow("host both reversed", "host_to_ping=b.test\nHost_to_ping=a.test\n",
                 "host_to_ping=1/a.test");
        parseRow("host empty", "Host_to_ping=\n", "");

        parseRow("dates", "T_end=10:30 05.03.2025\nRetry_time_stamp=10:30 05.03.2025",
                 "upgrade_time_stamp=1/2025-03-05T10:30:00;retry_time_stamp=1/2025-03-05T10:30:00");
        parseRow("date empty", "T_end=\nRetry_time_stamp=", "");
        parseRow("date iso", "T_end=2025-03-05T10:30", "", "\"2025-03-05T10:30\" for key T_end");
        parseRow("date day", "T_end=10:30 30.02.2025", "", "\"10:30 30.02.2025\" for key T_end");

        parseRow("repos quoted", "Extra_repos = \" /a.list , /b.list \"\n",
                 "extra_repos=1/ /a.list , /b.list ");
        parseRow("repos with =", "Extra_repos=/x=y.list", "extra_repos=1//x=y.list");
        parseRow("repos empty", "Extra_repos=", "extra_repos=1/");
        parseRow("level kept", "Log_level=DeBuG", "log_level=1/DeBuG");

        parseRow("power and health keys",
                 "Download_on_metered=yes\nBattery_min_percent=35\nT_health_settle=0\n"
                 "Health_rollback=on\n",
                 "download_on_metered=1/true;battery_min_percent=1/35;t_health_settle=1/0;"
                 "health_rollback=1/true");
        parseRow("battery negative", "Battery_min_percent=-5\n", "",
                 "\"-5\" for key Battery_min_percent");
        parseRow("settle text", "T_health_settle=soon\n", "", "\"soon\" for key T_health_settle");
        parseRow("slots zero held at the floor", "Reboot_lock_slots=0\n", "reboot_lock_slots=1/1",
                 "Reboot_lock_slots = 0 is below the minimum, using 1");
        parseRow("slots one", "Reboot_lock_slots=1\n", "reboot_lock_slots=1/1");
        parseRow("check period zero held at the floor", "T_end_check=0\nT_download_min=0\n",
                 "t_end_check=1/1;t_download_min=1/0",
                 "T_end_check = 0 minutes is below the minimum, using 1");
        parseRow("negative slots stay unreadable", "Reboot_lock_slots=-2\n", "",
                 "\"-2\" for key Reboot_lock_slots, using default 1");

        parseRow("group header", "[General]\nT_check=5\n", "t_check=1/5");
        parseRow("comments", "# T_check=5\n  ; T_delay=5\n", "");
        parseRow("no equals", "T_check 5\n", "");
        parseRow("last wins", "T_check=1\nT_check=2\n", "t_check=1/2");
        parseRow("crlf", "# x\r\nT_check=7\r\n", "t_check=1/7");
        parseRow("nul in value",
                 QByteArray("T_check=6\0"
                            "0\n",
                            12),
                 "", "\"6?0\" for key T_check");
    }

    void parseKey()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, fields);
        QFETCH(QString, warning);
        const QString path = fileWith(content);

        SettingsController store(path);
        QCOMPARE(store.load(), path);

        QStringList expected = dump(SettingsController::defaults()).split(QLatin1Char('\n'));
        for (const QString &field : fields.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString name = field.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
            auto line = std::find_if(expected.begin(), expected.end(),
                                     [&name](const QString &l) { return l.startsWith(name); });
            QVERIFY2(line != expected.end(), qPrintable(field));
            *line = field;
        }
        QCOMPARE(dump(store.params()), expected.join(QLatin1Char('\n')));

        const QStringList warnings = store.lastWarnings();
        QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
    }

    void warningText()
    {
        const QString path
                = fileWith("T_check=abc\nAction_on_error=Abort\nSnapshot=maybe\nT_end=never\n");
        const QString logPath = newPath() + QStringLiteral(".log");
        Logger logger(logPath, Logger::Debug);
        SettingsController store(path);
        store.setLogger(&logger);
        store.load();
        QCOMPARE(store.lastWarnings(),
                 QStringList({QStringLiteral("Malformed value \"abc\" for key T_check, using "
                                             "default 60"),
                              QStringLiteral("Malformed value \"Abort\" for key Action_on_error, "
                                             "using default Stop"),
                              QStringLiteral("Malformed value \"maybe\" for key Snapshot, using "
                                             "default false"),
                              QStringLiteral("Malformed value \"never\" for key T_end, leaving "
                                             "it unset")}));
        // With a logger, warnings go to its file.
        QVERIFY(readFile(logPath).contains(
                "WARNING Malformed value \"abc\" for key T_check, using default 60\n"));
        // A good file clears the warnings of the last load.
        QVERIFY(writeFile(path, "T_check=1\n"));
        store.load();
        QCOMPARE(store.lastWarnings(), QStringList());
    }

    // Every key malformed: all defaults and exactly one warning per key.
    void everythingMalformed()
    {
        const QByteArray content
                = "T_check=x\nT_download_min=-1\nT_download_max=9999999999\n"
                  "T_retry=1h\nT_end_check=\"\"\nT_delay=three\nAction_on_error=Panic\n"
                  "Snapshot=sometimes\nAlways_new_update=nope\nFree_space_policy=a\n"
                  "Use_sources_list_d=1.0\nExtra_repos_policy=0x1\nT_end=tomorrow\n"
                  "Retry_time_stamp=12:00";
        SettingsController store(fileWith(content));
        store.load();
        QCOMPARE(dump(store.params()), dump(SettingsController::defaults()));
        const QStringList warnings = store.lastWarnings();
        const QList<QByteArray> lines = content.split('\n');
        QCOMPARE(warnings.size(), lines.size());
        for (const QByteArray &line : lines) {
            const QString key = QString::fromLatin1(line.left(line.indexOf('=')));
            QVERIFY2(warnings.filter(QStringLiteral("for key %1,").arg(key)).size() == 1,
                     qPrintable(key));
        }
    }

    void missingFile_data()
    {
        QTest::addColumn<bool>("directory");
        QTest::newRow("missing") << false;
        QTest::newRow("directory in its place") << true;
    }

    void missingFile()
    {
        QFETCH(bool, directory);
        const QString path = newPath();
        if (directory)
            QVERIFY(QDir().mkpath(path));
        SettingsController store(path);
        QCOMPARE(store.load(), path);
        QCOMPARE(dump(store.params()), dump(SettingsController::defaults()));
        QCOMPARE(store.lastWarnings().size(), 1);
        QVERIFY(store.lastWarnings().first().contains(path));
    }

    // Whatever the bytes, load() survives and a sync right after it finds
    // nothing to write.
    void arbitraryBytes_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("keyLike"); // random lines built from real keys

        QTest::newRow("1 byte") << 2u << 1 << false;
        QTest::newRow("3 MiB") << 6u << 3 * 1024 * 1024 << false;
        QTest::newRow("key-like 2 MiB") << 9u << 2 * 1024 * 1024 << true;
    }

    void arbitraryBytes()
    {
        QFETCH(quint32, seed);
        QFETCH(int, size);
        QFETCH(bool, keyLike);
        QRandomGenerator rng(seed);
        QByteArray content;
        content.reserve(size + 200);
        if (keyLike) {
            const QByteArray names[] = {"T_check",   "T_delay",          "Action_on_error",
                                        "Snapshot",  "Host_to_ping",     "host_to_ping",
                                        "T_end",     "Retry_time_stamp", "Extra_repos",
                                        "Log_level", "[General]",        "#",
                                        ";"};
            const QByteArray pieces[]
                    = {"=", " ", "\"",  "\r",   "\n",   QByteArray(1, '\0'), ":", ".", "-",
                       "1", "9", "yes", "Stop", "2025", "10:30 05.03.2025"};
            while (content.size() < size) {
                content += names[rng.bounded(int(std::size(names)))];
                const int count = rng.bounded(6);
                for (int i = 0; i < count; ++i)
                    content += pieces[rng.bounded(int(std::size(pieces)))];
                if (rng.bounded(4) == 0)
                    content += char(rng.bounded(256));
                content += '\n';
            }
        } else {
            content.resize(size);
            for (char &c : content)
                c = char(rng.bounded(256));
        }
        const QString path = fileWith(content);
        const QString before = fileIdentity(path, true);

        SettingsController store(path);
        QCOMPARE(store.load(), path);
        for (const QString &warning : store.lastWarnings())
            QVERIFY2(warning.size() < 300, "warnings must not carry whole lines of junk");
        QVERIFY(store.sync());
        QCOMPARE(fileIdentity(path), before);
        QVERIFY(readFile(path) == content);
    }

    void hugeLine()
    {
        SettingsController store(
                fileWith("T_check=" + QByteArray(4 * 1024 * 1024, '7') + "x\nT_delay=4\n"));
        store.load();
        QCOMPARE(store.params().t_check, std::make_pair(false, 60));
        QCOMPARE(store.params().t_delay, std::make_pair(true, 4));
        QCOMPARE(store.lastWarnings().size(), 1);
        QVERIFY(store.lastWarnings().first().size() < 300);
    }

    // The two records and the dump must follow the table of keys: a key
    // added there and forgotten here would go untested by the round trips.
    void recordsCoverEveryKey()
    {
        const Params a = recordA();
        const Params b = recordB();
        QCOMPARE(dump(a).split(QLatin1Char('\n')).size(), ConfigKeys::count());
        for (const ConfigKeys::Key *key = ConfigKeys::begin(); key != ConfigKeys::end(); ++key) {
            QVERIFY2(ConfigKeys::isSet(*key, a) && ConfigKeys::isSet(*key, b), key->name);
            QVERIFY2(!ConfigKeys::sameField(*key, a, b), key->name);
        }
    }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("initial"); // "<missing>": no file at all
        QTest::addColumn<Params>("record");

        QTest::newRow("missing file, A") << QByteArray("<missing>") << recordA();
        QTest::newRow("empty file, B") << QByteArray() << recordB();
        QTest::newRow("commented, A") << QByteArray("# admin notes\n[General]\nhost_to_ping="
                                                    "old.test\n\nUnknown=1\nT_check = 60\n")
                                      << recordA();
        QTest::newRow("crlf without final newline, A")
                << QByteArray("# x\r\nT_check=1\r\nSnapshot=no") << recordA();
        QTest::newRow("malformed file, B")
                << QByteArray("T_check=x\nT_end=never\nRetry_time_stamp=13:99 01.01.2020\n")
                << recordB();

        Params invalidStamps = recordA();
        invalidStamps.upgrade_time_stamp = {false, QDateTime()};
        invalidStamps.retry_time_stamp = {false, QDateTime()};
        QTest::newRow("stamps unset") << QByteArray("T_end=10:00 01.01.2030\n") << invalidStamps;

        Params partial = SettingsController::defaults();
        partial.t_delay = {true, 9};
        partial.extra_repos = {true, QString()};
        QTest::newRow("partial record") << QByteArray("Other=x\n") << partial;
    }

    void roundTrip()
    {
        QFETCH(QByteArray, initial);
        QFETCH(Params, record);
        const QString path = initial == "<missing>" ? newPath() : fileWith(initial);

        SettingsController store(path);
        store.load();
        store.setParams(record);
        QVERIFY(store.sync());

        SettingsController reader(path);
        reader.load();
        QCOMPARE(reader.lastWarnings(), QStringList());
        QCOMPARE(dump(reader.params()), dump(record));

        // Now the file holds the record: a second sync leaves it alone.
        const QString identity = fileIdentity(path, true);
        const QByteArray bytes = readFile(path);
        QVERIFY(store.sync());
        QCOMPARE(fileIdentity(path), identity);
        QCOMPARE(readFile(path), bytes);
    }

    // What the daemon keeps between loads is what the file can hold.
    void stampsKeptToTheMinute()
    {
        const QString path = newPath();
        SettingsController store(path);
        store.load();
        Params p = recordA();
        p.upgrade_time_stamp = {true, QDateTime(QDate(2030, 1, 1), QTime(10, 0, 42, 500))};
        p.retry_time_stamp = {true, QDateTime(QDate(2030, 1, 2), QTime(11, 5, 7))};
        store.setParams(p);
        QVERIFY(store.sync());
        SettingsController reader(path);
        reader.load();
        QCOMPARE(dump(store.params()), dump(reader.params()));
    }

    void unchangedSyncLeavesFileAlone_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("odd forms") << QByteArray(
                "# comment\n\n  T_check = 60  \nSnapshot = YES\nAction_on_error=reset\n"
                "host_to_ping=\"h.test\"\nT_end = 09:05 01.02.2030\n"
                "Retry_time_stamp=\nExtra_repos= \"/a.list, /b.list\" \n"
                "T_delay=+3\nUnknown=whatever\n[Group]\n;x\nLog_level=Warning");
        QTest::newRow("malformed values") << QByteArray("T_check=abc\nT_end=bad\nSnapshot=\n");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("only comments") << QByteArray("# nothing set\n");
    }

    void unchangedSyncLeavesFileAlone()
    {
        QFETCH(QByteArray, content);
        const QString path = fileWith(content);
        const QString identity = fileIdentity(path, true);

        SettingsController store(path);
        store.load();
        // Seconds are below the file's precision: the stamp still matches.
        Params p = store.params();
        if (p.upgrade_time_stamp.first)
            p.upgrade_time_stamp.second = p.upgrade_time_stamp.second.addSecs(42);
        store.setParams(p);
        QVERIFY(store.sync());
        QCOMPARE(readFile(path), content);
        QCOMPARE(fileIdentity(path), identity);
    }

    void syncEdits_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QByteArray>("after");

        const QByteArray text = "# Settings\n\n[General]\nT_check = 60\nUnknown_key=keep me\n"
                                "; old: T_check=5\nSnapshot = yes\nhost_to_ping=a.test\n"
                                "T_end=10:00 01.01.2030\n";
        auto edited = [&text](const char *from, const char *to) {
            return QByteArray(text).replace(from, to);
        };
        const QDateTime later = minuteTime(2031, 12, 24, 8, 15);

        const QByteArray stamp = "10:00 01.01.2030";
        editRow("one value", text, edited("T_check = 60", "T_check = 90"), [](Params &p) {
            p.t_check = {true, 90};
        });
        editRow("bool", text, edited("Snapshot = yes", "Snapshot = false"), [](Params &p) {
            p.snapshot = {true, false};
        });
        editRow("lower-case host", text, edited("=a.test", "=b.test"), [](Params &p) {
            p.host_to_ping = {true, "b.test"};
        });
        editRow("absent key appended", text, text + "T_delay=5\n", [](Params &p) {
            p.t_delay = {true, 5};
        });
        editRow("stamp changed", text, edited(stamp, "08:15 24.12.2031"), [later](Params &p) {
            p.upgrade_time_stamp = {true, later};
        });
        editRow("stamp invalidated, flag kept", text, edited(stamp, ""),
                [](Params &p) { p.upgrade_time_stamp.second = QDateTime(); });
        editRow("stamp cleared", text, edited(stamp, ""), [](Params &p) {
            p.upgrade_time_stamp = {false, QDateTime()};
        });
        editRow("unset flag keeps line", text, text, [](Params &p) { p.t_check = {false, 90}; });
        editRow("retry stamp appended", text, text + "Retry_time_stamp=08:15 24.12.2031\n",
                [later](Params &p) {
                    p.retry_time_stamp = {true, later};
                });
        editRow("no final newline", "T_check=60\nSnapshot=no", "T_check=60\nSnapshot=no\nT_delay=5",
                [](Params &p) {
                    p.t_delay = {true, 5};
                });
        editRow("crlf", "T_check=60\r\nSnapshot=no\r\n", "T_check=90\r\nSnapshot=no\r\n",
                [](Params &p) {
                    p.t_check = {true, 90};
                });
        editRow("crlf appended", "T_check=60\r\n", "T_check=60\r\nT_delay=5\r\n", [](Params &p) {
            p.t_delay = {true, 5};
        });
        editRow("action word", "Action_on_error = stop\n", "Action_on_error = Retry\n",
                [](Params &p) {
                    p.action_on_error = {true, 0};
                });
        editRow("malformed replaced", "T_check=abc\n", "T_check=60\n", [](Params &p) {
            p.t_check = {true, 60};
        });
        editRow("quoted text needs quotes", "Extra_repos=\"/a.list\"\n",
                "Extra_repos=\" /b.list\"\n", [](Params &p) {
                    p.extra_repos = {true, " /b.list"};
                });
        editRow("newline in text", "Extra_repos=/a\n", "Extra_repos=/b T_check=1\n", [](Params &p) {
            p.extra_repos = {true, "/b\nT_check=1"};
        });
        editRow("empty file", "", "T_check=90\n", [](Params &p) { p.t_check = {true, 90}; });
    }

    void syncEdits()
    {
        QFETCH(QByteArray, before);
        QFETCH(Edit, edit);
        QFETCH(QByteArray, after);
        const QString path = fileWith(before);
        SettingsController store(path);
        store.load();
        Params p = store.params();
        edit(p);
        store.setParams(p);
        QVERIFY(store.sync());
        QCOMPARE(readFile(path), after);
    }

    // An administrator's edit that lands between the store's read and its
    // next write survives: only what the daemon changed is written.
    void editBetweenLoadAndSyncKept()
    {
        const QString path = fileWith("T_check=60\nT_delay=3\n");
        SettingsController store(path);
        store.load();
        QVERIFY(writeFile(path, "T_check=5\nT_delay=3\n"));
        Params p = store.params();
        p.upgrade_time_stamp = {true, QDateTime(QDate(2026, 12, 24), QTime(18, 30))};
        store.setParams(p);
        QVERIFY(store.sync());
        QCOMPARE(readFile(path), QByteArray("T_check=5\nT_delay=3\nT_end=18:30 24.12.2026\n"));
        // Nothing changed since: a second sync leaves the file alone.
        QVERIFY(writeFile(path, "T_check=7\n"));
        QVERIFY(store.sync());
        QCOMPARE(readFile(path), QByteArray("T_check=7\n"));
    }

    void permissionsKept()
    {
        const QString path = fileWith("T_check=1\n");
        const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(path, mode));
        SettingsController store(path);
        store.load();
        Params p = store.params();
        p.t_check.second = 2;
        store.setParams(p);
        QVERIFY(store.sync());
        QCOMPARE(readFile(path), QByteArray("T_check=2\n"));
        QCOMPARE(int(QFileInfo(path).permissions()) & 0x7077, int(mode));
        // No temporary file is left behind.
        QCOMPARE(QDir(m_dir.path()).entryList({QFileInfo(path).fileName() + QLatin1Char('*')}),
                 QStringList(QFileInfo(path).fileName()));
    }

    void syncFailures()
    {
        SettingsController noDir(m_dir.filePath(QStringLiteral("no-such-dir/settings.conf")));
        noDir.setParams(recordA());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not exist"));
        QVERIFY(!noDir.sync());
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("no-such-dir"))));

        const QString dirPath = newPath();
        QVERIFY(QDir().mkpath(dirPath));
        SettingsController isDir(dirPath);
        isDir.setParams(recordA());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Cannot"));
        QVERIFY(!isDir.sync());
        QVERIFY(QFileInfo(dirPath).isDir());
    }

    // The shipped default configuration reads cleanly and spells out every
    // documented default but the two stamps.
    void shippedDefaults()
    {
        const QString source = qEnvironmentVariable("KIRTA_SOURCE_DIR");
        QVERIFY2(!source.isEmpty(), "KIRTA_SOURCE_DIR is not set");
        const QByteArray content
                = readFile(source + QStringLiteral("/data/kirta-update-daemon.conf"));
        QVERIFY(content.startsWith('#'));
        const QString path = fileWith(content);
        SettingsController store(path);
        store.load();
        QCOMPARE(store.lastWarnings(), QStringList());
        const QString expected
                = dump(SettingsController::defaults())
                          .replace(QStringLiteral("=0/"), QStringLiteral("=1/"))
                          .replace(QStringLiteral("stamp=1/"), QStringLiteral("stamp=0/"));
        QCOMPARE(dump(store.params()), expected);
        QCOMPARE(store.params().host_to_ping.second, QStringLiteral("9.9.9.9"));

        const QString identity = fileIdentity(path, true);
        QVERIFY(store.sync());
        QCOMPARE(fileIdentity(path), identity);
    }

    // A writer killed at any moment leaves a complete file: the old record or
    // the new one.
    void killedWriterLeavesCompleteFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("crash/settings.conf"));
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(writeFile(path, "# kept across every rewrite\n\n"));
        SettingsController first(path);
        first.setParams(recordA());
        QVERIFY(first.sync());

        const Params a = recordA();
        const Params b = recordB();
        QRandomGenerator rng(20240501);
        QElapsedTimer total;
        total.start();
        int rounds = 0;
        int endedOnA = 0;
        int endedOnB = 0;
        for (; rounds < 150 && (rounds < 100 || total.elapsed() < 15000); ++rounds) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start(QCoreApplication::applicationFilePath(),
                         {QLatin1String(WRITER_MODE), path});
            QVERIFY2(writer.waitForStarted(10000), qPrintable(writer.errorString()));

            // Let it finish a varying number of syncs, then a varying spin of
            // about one sync's length: the kill lands anywhere inside a write.
            const int wanted = rng.bounded(1, 4);
            QByteArray output;
            while (output.count('\n') < wanted) {
                QVERIFY2(writer.waitForReadyRead(10000), "writer stopped reporting");
                output += writer.readAllStandardOutput();
            }
            QElapsedTimer spin;
            spin.start();
            const qint64 spinNs = qint64(rng.bounded(15000)) * 1000;
            while (spin.nsecsElapsed() < spinNs) { }
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

            SettingsController reader(path);
            reader.load();
            QVERIFY2(reader.lastWarnings().isEmpty(), qPrintable(reader.lastWarnings().join('\n')));
            const Params got = reader.params();
            QVERIFY2(got == a || got == b, qPrintable(dump(got)));
            ++(got == a ? endedOnA : endedOnB);
            QVERIFY(readFile(path).startsWith("# kept across every rewrite\n\n"));
        }
        QVERIFY(rounds >= 100);
        // Both records must have reached the disk at some point.
        QVERIFY(endedOnA > 0 && endedOnB > 0);
        qInfo("%d kills: %d left record A, %d record B", rounds, endedOnA, endedOnB);
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], WRITER_MODE) == 0)
        return runSyncWriter(argv[2]);
    QCoreApplication app(argc, argv);
    TestSettingsController test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingscontroller.moc"
