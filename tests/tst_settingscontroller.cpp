#include "logger.h"
#include "params.h"
#include "settingscontroller.h"
#include "settingskeys.h"
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

#include <cstdio>
#include <iterator>

namespace {

const char *const WRITER_MODE = "--sync-writer";

QDateTime minuteTime(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute));
}

// Every field of the record, one per line, for readable comparisons.
QString dump(const Params &p)
{
    QStringList out;
    auto add = [&out](const char *name, bool flag, const QString &value) {
        out << QStringLiteral("%1=%2/%3").arg(QLatin1String(name)).arg(flag).arg(value);
    };
    auto date = [](const QDateTime &d) {
        return d.isValid() ? d.toString(Qt::ISODateWithMs) : QStringLiteral("invalid");
    };
    add("t_check", p.t_check.first, QString::number(p.t_check.second));
    add("t_download_min", p.t_download_min.first, QString::number(p.t_download_min.second));
    add("t_download_max", p.t_download_max.first, QString::number(p.t_download_max.second));
    add("t_retry", p.t_retry.first, QString::number(p.t_retry.second));
    add("t_end_check", p.t_end_check.first, QString::number(p.t_end_check.second));
    add("t_delay", p.t_delay.first, QString::number(p.t_delay.second));
    add("action_on_error", p.action_on_error.first, QString::number(p.action_on_error.second));
    add("snapshot", p.snapshot.first, QString::number(p.snapshot.second));
    add("always_new_update", p.always_new_update.first,
        QString::number(p.always_new_update.second));
    add("free_space_policy", p.free_space_policy.first,
        QString::number(p.free_space_policy.second));
    add("use_sources_list_d", p.use_sources_list_d.first,
        QString::number(p.use_sources_list_d.second));
    add("host_to_ping", p.host_to_ping.first, p.host_to_ping.second);
    add("upgrade_time_stamp", p.upgrade_time_stamp.first, date(p.upgrade_time_stamp.second));
    add("extra_repos", p.extra_repos.first, p.extra_repos.second);
    add("extra_repos_policy", p.extra_repos_policy.first,
        QString::number(p.extra_repos_policy.second));
    add("log_level", p.log_level.first, p.log_level.second);
    add("retry_time_stamp", p.retry_time_stamp.first, date(p.retry_time_stamp.second));
    return out.join(QLatin1Char('\n'));
}

// Sets one field (flag true) by its record name.
void setField(Params &p, const QString &field, const QVariant &value)
{
    const int i = value.toInt();
    const bool b = value.toBool();
    const QString s = value.toString();
    const QDateTime d = value.toDateTime();
    if (field == QLatin1String("t_check"))
        p.t_check = {true, i};
    else if (field == QLatin1String("t_download_min"))
        p.t_download_min = {true, i};
    else if (field == QLatin1String("t_download_max"))
        p.t_download_max = {true, i};
    else if (field == QLatin1String("t_retry"))
        p.t_retry = {true, i};
    else if (field == QLatin1String("t_end_check"))
        p.t_end_check = {true, i};
    else if (field == QLatin1String("t_delay"))
        p.t_delay = {true, i};
    else if (field == QLatin1String("action_on_error"))
        p.action_on_error = {true, i};
    else if (field == QLatin1String("snapshot"))
        p.snapshot = {true, b};
    else if (field == QLatin1String("always_new_update"))
        p.always_new_update = {true, b};
    else if (field == QLatin1String("free_space_policy"))
        p.free_space_policy = {true, i};
    else if (field == QLatin1String("use_sources_list_d"))
        p.use_sources_list_d = {true, i};
    else if (field == QLatin1String("host_to_ping"))
        p.host_to_ping = {true, s};
    else if (field == QLatin1String("upgrade_time_stamp"))
        p.upgrade_time_stamp = {true, d};
    else if (field == QLatin1String("extra_repos"))
        p.extra_repos = {true, s};
    else if (field == QLatin1String("extra_repos_policy"))
        p.extra_repos_policy = {true, i};
    else if (field == QLatin1String("log_level"))
        p.log_level = {true, s};
    else if (field == QLatin1String("retry_time_stamp"))
        p.retry_time_stamp = {true, d};
    else
        qFatal("unknown field %s", qPrintable(field));
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
QString fileIdentity(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    return QStringLiteral("%1/%2.%3")
            .arg(qulonglong(st.st_ino))
            .arg(qlonglong(st.st_mtim.tv_sec))
            .arg(qlonglong(st.st_mtim.tv_nsec));
}

// Moves the modification time an hour back, so a rewrite cannot hide in the
// same clock tick.
bool ageFile(const QString &path)
{
    struct timeval times[2];
    ::gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= 3600;
    times[1] = times[0];
    return ::utimes(QFile::encodeName(path).constData(), times) == 0;
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
        QTest::addColumn<QString>("field"); // empty: nothing is set
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("badText"); // not null: one warning naming it

        const QVariant none;
        const QString noWarning; // null: no warning expected
        const QDateTime stamp = minuteTime(2025, 3, 5, 10, 30);

        QTest::newRow("int") << QByteArray("T_check=90\n") << "t_check" << QVariant(90)
                             << noWarning;
        QTest::newRow("int blanks")
                << QByteArray("  T_check  =   45  \n") << "t_check" << QVariant(45) << noWarning;
        QTest::newRow("int quoted")
                << QByteArray("T_check=\"30\"") << "t_check" << QVariant(30) << noWarning;
        QTest::newRow("int max") << QByteArray("T_retry=2147483647") << "t_retry"
                                 << QVariant(2147483647) << noWarning;
        QTest::newRow("int text") << QByteArray("T_check=abc\n") << "" << none << "abc";
        QTest::newRow("int fraction") << QByteArray("T_download_max=1.5\n") << "" << none << "1.5";
        QTest::newRow("int overflow")
                << QByteArray("T_delay=2147483648\n") << "" << none << "2147483648";
        QTest::newRow("int negative minutes")
                << QByteArray("T_end_check=-5\n") << "" << none << "-5";
        QTest::newRow("int negative hours") << QByteArray("T_retry=-1\n") << "" << none << "-1";
        QTest::newRow("int zero") << QByteArray("T_download_min=0\n") << "t_download_min"
                                  << QVariant(0) << noWarning;
        QTest::newRow("policy negative") << QByteArray("Free_space_policy=-3\n")
                                         << "free_space_policy" << QVariant(-3) << noWarning;
        QTest::newRow("policy text")
                << QByteArray("Use_sources_list_d=yes\n") << "" << none << "yes";
        QTest::newRow("policy overflow")
                << QByteArray("Extra_repos_policy=-99999999999\n") << "" << none << "-99999999999";
        QTest::newRow("sources") << QByteArray("Use_sources_list_d=0\n") << "use_sources_list_d"
                                 << QVariant(0) << noWarning;
        QTest::newRow("int empty") << QByteArray("T_delay=\n") << "" << none << QStringLiteral("");
        QTest::newRow("key wrong case") << QByteArray("t_check=5\n") << "" << none << noWarning;

        QTest::newRow("action stop") << QByteArray("Action_on_error=Stop") << "action_on_error"
                                     << QVariant(1) << noWarning;
        QTest::newRow("action reset lower") << QByteArray("Action_on_error = reset")
                                            << "action_on_error" << QVariant(2) << noWarning;
        QTest::newRow("action retry upper") << QByteArray("Action_on_error=RETRY")
                                            << "action_on_error" << QVariant(0) << noWarning;
        QTest::newRow("action unknown")
                << QByteArray("Action_on_error=Abort") << "" << none << "Abort";
        QTest::newRow("action number") << QByteArray("Action_on_error=2") << "" << none << "2";

        QTest::newRow("bool yes") << QByteArray("Snapshot=yes") << "snapshot" << QVariant(true)
                                  << noWarning;
        QTest::newRow("bool ON") << QByteArray("Snapshot=ON") << "snapshot" << QVariant(true)
                                 << noWarning;
        QTest::newRow("bool 1") << QByteArray("Always_new_update=1") << "always_new_update"
                                << QVariant(true) << noWarning;
        QTest::newRow("bool TRUE") << QByteArray("Always_new_update=TRUE") << "always_new_update"
                                   << QVariant(true) << noWarning;
        QTest::newRow("bool False")
                << QByteArray("Snapshot=False") << "snapshot" << QVariant(false) << noWarning;
        QTest::newRow("bool off") << QByteArray("Snapshot=off") << "snapshot" << QVariant(false)
                                  << noWarning;
        QTest::newRow("bool 0") << QByteArray("Snapshot=0") << "snapshot" << QVariant(false)
                                << noWarning;
        QTest::newRow("bool bad") << QByteArray("Snapshot=maybe") << "" << none << "maybe";
        QTest::newRow("bool 2") << QByteArray("Always_new_update=2") << "" << none << "2";

        QTest::newRow("host") << QByteArray("Host_to_ping=1.1.1.1") << "host_to_ping"
                              << QVariant("1.1.1.1") << noWarning;
        QTest::newRow("host lower") << QByteArray("host_to_ping = 8.8.4.4") << "host_to_ping"
                                    << QVariant("8.8.4.4") << noWarning;
        QTest::newRow("host both") << QByteArray("Host_to_ping=a.test\nhost_to_ping=b.test\n")
                                   << "host_to_ping" << QVariant("a.test") << noWarning;
        QTest::newRow("host both reversed")
                << QByteArray("host_to_ping=b.test\nHost_to_ping=a.test\n") << "host_to_ping"
                << QVariant("a.test") << noWarning;
        QTest::newRow("host empty") << QByteArray("Host_to_ping=\n") << "" << none << noWarning;

        QTest::newRow("date") << QByteArray("T_end=10:30 05.03.2025") << "upgrade_time_stamp"
                              << QVariant(stamp) << noWarning;
        QTest::newRow("date quoted") << QByteArray("T_end = \"10:30 05.03.2025\"")
                                     << "upgrade_time_stamp" << QVariant(stamp) << noWarning;
        QTest::newRow("date empty") << QByteArray("T_end=\n") << "" << none << noWarning;
        QTest::newRow("date iso") << QByteArray("T_end=2025-03-05T10:30") << "" << none
                                  << "2025-03-05T10:30";
        QTest::newRow("date hour")
                << QByteArray("T_end=25:00 05.03.2025") << "" << none << "25:00 05.03.2025";
        QTest::newRow("date day") << QByteArray("T_end=10:30 30.02.2025") << "" << none
                                  << "10:30 30.02.2025";
        QTest::newRow("retry stamp") << QByteArray("Retry_time_stamp=10:30 05.03.2025")
                                     << "retry_time_stamp" << QVariant(stamp) << noWarning;
        QTest::newRow("retry stamp empty")
                << QByteArray("Retry_time_stamp=") << "" << none << noWarning;
        QTest::newRow("retry stamp bad")
                << QByteArray("Retry_time_stamp=soon") << "" << none << "soon";

        QTest::newRow("repos commas")
                << QByteArray("Extra_repos=/a.list,/b.list, /c.list\n") << "extra_repos"
                << QVariant("/a.list,/b.list, /c.list") << noWarning;
        QTest::newRow("repos quoted")
                << QByteArray("Extra_repos = \" /a.list , /b.list \"\n") << "extra_repos"
                << QVariant(" /a.list , /b.list ") << noWarning;
        QTest::newRow("repos with =") << QByteArray("Extra_repos=/x=y.list") << "extra_repos"
                                      << QVariant("/x=y.list") << noWarning;
        QTest::newRow("repos empty")
                << QByteArray("Extra_repos=") << "extra_repos" << QVariant("") << noWarning;
        QTest::newRow("level kept")
                << QByteArray("Log_level=DeBuG") << "log_level" << QVariant("DeBuG") << noWarning;

        QTest::newRow("group header")
                << QByteArray("[General]\nT_check=5\n") << "t_check" << QVariant(5) << noWarning;
        QTest::newRow("hash comment") << QByteArray("# T_check=5\n") << "" << none << noWarning;
        QTest::newRow("semicolon comment")
                << QByteArray("  ; T_check=5\n") << "" << none << noWarning;
        QTest::newRow("no equals") << QByteArray("T_check 5\n") << "" << none << noWarning;
        QTest::newRow("last wins")
                << QByteArray("T_check=1\nT_check=2\n") << "t_check" << QVariant(2) << noWarning;
        QTest::newRow("crlf") << QByteArray("# x\r\nT_check=7\r\n") << "t_check" << QVariant(7)
                              << noWarning;
        QTest::newRow("nul in value") << QByteArray("T_check=6\0"
                                                    "0\n",
                                                    12)
                                      << "" << none << "6?0";
    }

    void parseKey()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, field);
        QFETCH(QVariant, value);
        QFETCH(QString, badText);
        const QString path = newPath();
        QVERIFY(writeFile(path, content));

        SettingsController store(path);
        QCOMPARE(store.load(), path);

        Params expected = SettingsController::defaults();
        if (!field.isEmpty())
            setField(expected, field, value);
        QCOMPARE(dump(store.params()), dump(expected));
        QVERIFY(store.params() == expected);

        const QStringList warnings = store.lastWarnings();
        if (badText.isNull()) {
            QCOMPARE(warnings, QStringList());
        } else {
            QCOMPARE(warnings.size(), 1);
            QVERIFY2(warnings.first().contains(QStringLiteral("\"%1\"").arg(badText)),
                     qPrintable(warnings.first()));
            const QString key = QString::fromUtf8(content.left(content.indexOf('=')));
            QVERIFY2(warnings.first().contains(QStringLiteral("for key ") + key),
                     qPrintable(warnings.first()));
        }
    }

    void warningText()
    {
        const QString path = newPath();
        QVERIFY(writeFile(path, "T_check=abc\nAction_on_error=Abort\nSnapshot=maybe\n"));
        SettingsController store(path);
        store.load();
        QCOMPARE(store.lastWarnings(),
                 QStringList({QStringLiteral("Malformed value \"abc\" for key T_check, using "
                                             "default 60"),
                              QStringLiteral("Malformed value \"Abort\" for key Action_on_error, "
                                             "using default Stop"),
                              QStringLiteral("Malformed value \"maybe\" for key Snapshot, using "
                                             "default false")}));
        // A good file clears the warnings of the last load.
        QVERIFY(writeFile(path, "T_check=1\n"));
        store.load();
        QCOMPARE(store.lastWarnings(), QStringList());
    }

    void warningsGoToLogger()
    {
        const QString path = newPath();
        const QString logPath = newPath() + QStringLiteral(".log");
        QVERIFY(writeFile(path, "T_retry=never\n"));
        Logger logger(logPath, Logger::Debug);
        SettingsController store(path);
        store.setLogger(&logger);
        store.load();
        const QString log = QString::fromUtf8(readFile(logPath));
        QVERIFY2(log.contains(QStringLiteral(
                         "WARNING Malformed value \"never\" for key T_retry, using default 2\n")),
                 qPrintable(log));
    }

    void everythingMalformed()
    {
        const QString path = newPath();
        QVERIFY(writeFile(path,
                          "T_check=x\nT_download_min=-1\nT_download_max=9999999999\n"
                          "T_retry=1h\nT_end_check=\"\"\nT_delay=three\nAction_on_error=Panic\n"
                          "Snapshot=sometimes\nAlways_new_update=nope\nFree_space_policy=a\n"
                          "Use_sources_list_d=1.0\nExtra_repos_policy=0x1\nT_end=tomorrow\n"
                          "Retry_time_stamp=12:00\n"));
        SettingsController store(path);
        store.load();
        QCOMPARE(dump(store.params()), dump(SettingsController::defaults()));
        const QStringList warnings = store.lastWarnings();
        QCOMPARE(warnings.size(), 14);
        const QStringList keys {KEY_T_CHECK,
                                KEY_T_DOWNLOAD_MIN,
                                KEY_T_DOWNLOAD_MAX,
                                KEY_T_RETRY,
                                KEY_T_END_CHECK,
                                KEY_T_DELAY,
                                KEY_ACTION_ON_ERROR,
                                KEY_SNAPSHOT,
                                KEY_ALWAYS_NEW_UPDATE,
                                KEY_FREE_SPACE_POLICY,
                                KEY_USE_SOURCES_LIST_D,
                                KEY_EXTRA_REPOS_POLICY,
                                KEY_T_END,
                                QStringLiteral("Retry_time_stamp")};
        for (const QString &key : keys) {
            const int hits = warnings.filter(QStringLiteral("for key %1,").arg(key)).size();
            QVERIFY2(hits == 1, qPrintable(key));
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

        QTest::newRow("empty") << 1u << 0 << false;
        QTest::newRow("1 byte") << 2u << 1 << false;
        QTest::newRow("100 bytes") << 3u << 100 << false;
        QTest::newRow("4 KiB") << 4u << 4096 << false;
        QTest::newRow("64 KiB") << 5u << 65536 << false;
        QTest::newRow("3 MiB") << 6u << 3 * 1024 * 1024 << false;
        QTest::newRow("key-like 4 KiB") << 7u << 4096 << true;
        QTest::newRow("key-like 64 KiB") << 8u << 65536 << true;
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
        const QString path = newPath();
        QVERIFY(writeFile(path, content));
        QVERIFY(ageFile(path));
        const QString before = fileIdentity(path);

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
        const QString path = newPath();
        QVERIFY(writeFile(path, "T_check=" + QByteArray(4 * 1024 * 1024, '7') + "x\nT_delay=4\n"));
        SettingsController store(path);
        store.load();
        QCOMPARE(store.params().t_check, std::make_pair(false, 60));
        QCOMPARE(store.params().t_delay, std::make_pair(true, 4));
        QCOMPARE(store.lastWarnings().size(), 1);
        QVERIFY(store.lastWarnings().first().size() < 300);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("initial"); // "<missing>": no file at all
        QTest::addColumn<Params>("record");

        const QByteArray commented = "# admin notes\n[General]\nhost_to_ping=old.test\n\n"
                                     "Unknown=1\nT_check = 60\n";
        QTest::newRow("missing file, A") << QByteArray("<missing>") << recordA();
        QTest::newRow("empty file, B") << QByteArray() << recordB();
        QTest::newRow("commented, A") << commented << recordA();
        QTest::newRow("commented, B") << commented << recordB();
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
        const QString path = newPath();
        if (initial != "<missing>")
            QVERIFY(writeFile(path, initial));

        SettingsController store(path);
        store.load();
        store.setParams(record);
        QVERIFY(store.sync());

        SettingsController reader(path);
        reader.load();
        QCOMPARE(reader.lastWarnings(), QStringList());
        QCOMPARE(dump(reader.params()), dump(record));

        // Now the file holds the record: a second sync leaves it alone.
        QVERIFY(ageFile(path));
        const QString identity = fileIdentity(path);
        const QByteArray bytes = readFile(path);
        QVERIFY(store.sync());
        QCOMPARE(fileIdentity(path), identity);
        QCOMPARE(readFile(path), bytes);
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
        const QString path = newPath();
        QVERIFY(writeFile(path, content));
        QVERIFY(ageFile(path));
        const QString identity = fileIdentity(path);

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
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QByteArray>("after");

        const QByteArray text = "# Settings\n\n[General]\nT_check = 60\nUnknown_key=keep me\n"
                                "; old: T_check=5\nSnapshot = yes\nhost_to_ping=a.test\n"
                                "T_end=10:00 01.01.2030\n";
        QTest::newRow("one value")
                << text << "t_check=90" << QByteArray(text).replace("T_check = 60", "T_check = 90");
        QTest::newRow("bool") << text << "snapshot=false"
                              << QByteArray(text).replace("Snapshot = yes", "Snapshot = false");
        QTest::newRow("lower-case host")
                << text << "host=b.test" << QByteArray(text).replace("=a.test", "=b.test");
        QTest::newRow("absent key appended")
                << text << "t_delay=5" << QByteArray(text + "T_delay=5\n");
        QTest::newRow("stamp changed")
                << text << "t_end=set"
                << QByteArray(text).replace("10:00 01.01.2030", "08:15 24.12.2031");
        QTest::newRow("stamp invalidated, flag kept")
                << text << "t_end=invalid" << QByteArray(text).replace("10:00 01.01.2030", "");
        QTest::newRow("stamp cleared")
                << text << "t_end=cleared" << QByteArray(text).replace("10:00 01.01.2030", "");
        QTest::newRow("unset flag keeps line") << text << "t_check=unset" << text;
        QTest::newRow("retry stamp appended")
                << text << "retry=set" << QByteArray(text + "Retry_time_stamp=08:15 24.12.2031\n");
        QTest::newRow("unset absent key not appended") << text << "retry=cleared" << text;
        QTest::newRow("no final newline") << QByteArray("T_check=60\nSnapshot=no") << "t_delay=5"
                                          << QByteArray("T_check=60\nSnapshot=no\nT_delay=5");
        QTest::newRow("crlf") << QByteArray("T_check=60\r\nSnapshot=no\r\n") << "t_check=90"
                              << QByteArray("T_check=90\r\nSnapshot=no\r\n");
        QTest::newRow("crlf appended") << QByteArray("T_check=60\r\n") << "t_delay=5"
                                       << QByteArray("T_check=60\r\nT_delay=5\r\n");
        QTest::newRow("action word") << QByteArray("Action_on_error = stop\n") << "action=0"
                                     << QByteArray("Action_on_error = Retry\n");
        QTest::newRow("malformed replaced")
                << QByteArray("T_check=abc\n") << "t_check=60" << QByteArray("T_check=60\n");
        QTest::newRow("quoted text needs quotes")
                << QByteArray("Extra_repos=\"/a.list\"\n") << "repos= /b.list"
                << QByteArray("Extra_repos=\" /b.list\"\n");
        QTest::newRow("newline in text") << QByteArray("Extra_repos=/a\n") << "repos=/b\nT_check=1"
                                         << QByteArray("Extra_repos=/b T_check=1\n");
        QTest::newRow("empty file") << QByteArray() << "t_check=90" << QByteArray("T_check=90\n");
    }

    void syncEdits()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, edit);
        QFETCH(QByteArray, after);
        const QString path = newPath();
        QVERIFY(writeFile(path, before));
        SettingsController store(path);
        store.load();
        Params p = store.params();
        const QString name = edit.section(QLatin1Char('='), 0, 0);
        const QString value = edit.section(QLatin1Char('='), 1);
        const QDateTime later = minuteTime(2031, 12, 24, 8, 15);
        auto setStamp = [&](std::pair<bool, QDateTime> &stamp) {
            if (value == QLatin1String("set"))
                stamp = {true, later};
            else if (value == QLatin1String("invalid"))
                stamp.second = QDateTime();
            else
                stamp = {false, QDateTime()};
        };
        if (name == QLatin1String("t_check") && value == QLatin1String("unset"))
            p.t_check = {false, 90};
        else if (name == QLatin1String("t_check"))
            p.t_check = {true, value.toInt()};
        else if (name == QLatin1String("t_delay"))
            p.t_delay = {true, value.toInt()};
        else if (name == QLatin1String("snapshot"))
            p.snapshot = {true, value == QLatin1String("true")};
        else if (name == QLatin1String("host"))
            p.host_to_ping = {true, value};
        else if (name == QLatin1String("action"))
            p.action_on_error = {true, value.toInt()};
        else if (name == QLatin1String("repos"))
            p.extra_repos = {true, value};
        else if (name == QLatin1String("t_end"))
            setStamp(p.upgrade_time_stamp);
        else if (name == QLatin1String("retry"))
            setStamp(p.retry_time_stamp);
        else
            QFAIL("unknown edit");
        store.setParams(p);
        QVERIFY(store.sync());
        QCOMPARE(readFile(path), after);
    }

    void permissionsKept()
    {
        const QString path = newPath();
        QVERIFY(writeFile(path, "T_check=1\n"));
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

    // The shipped default configuration reads cleanly and says exactly the
    // documented defaults.
    void shippedDefaults()
    {
        const QString source = qEnvironmentVariable("KIRTA_SOURCE_DIR");
        QVERIFY2(!source.isEmpty(), "KIRTA_SOURCE_DIR is not set");
        const QByteArray content
                = readFile(source + QStringLiteral("/data/kirta-update-daemon.conf"));
        QVERIFY(content.startsWith('#'));
        const QString path = newPath();
        QVERIFY(writeFile(path, content));
        SettingsController store(path);
        store.load();
        QCOMPARE(store.lastWarnings(), QStringList());

        // Every key but the two stamps is spelt out.
        Params expected = SettingsController::defaults();
        expected.t_check.first = true;
        expected.t_download_min.first = true;
        expected.t_download_max.first = true;
        expected.t_retry.first = true;
        expected.t_end_check.first = true;
        expected.t_delay.first = true;
        expected.action_on_error.first = true;
        expected.snapshot.first = true;
        expected.always_new_update.first = true;
        expected.free_space_policy.first = true;
        expected.use_sources_list_d.first = true;
        expected.host_to_ping.first = true;
        expected.extra_repos.first = true;
        expected.extra_repos_policy.first = true;
        expected.log_level.first = true;
        QCOMPARE(dump(store.params()), dump(expected));
        QCOMPARE(store.params().host_to_ping.second, QStringLiteral("9.9.9.9"));

        QVERIFY(ageFile(path));
        const QString identity = fileIdentity(path);
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

            // Let it finish a varying number of syncs, then a varying spin.
            const int wanted = rng.bounded(1, 4);
            int seen = 0;
            QByteArray output;
            while (seen < wanted) {
                QVERIFY2(writer.waitForReadyRead(10000), "writer stopped reporting");
                output += writer.readAllStandardOutput();
                seen = output.count('\n');
            }
            QElapsedTimer spin;
            spin.start();
            // About one sync's length: the kill lands anywhere inside a write.
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
