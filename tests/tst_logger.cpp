#include "logger.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const char *const STDERR_MODE = "--log-to";
const char *const LINE_PATTERN
        = "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (DEBUG|INFO|WARNING|ERROR) (.*)$";

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        return {QStringLiteral("<no final newline>")};
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.removeLast();
    return lines;
}

// "LEVEL rest" of a log line, or "" when the line is not well-formed.
QString levelAndText(const QString &line)
{
    static const QRegularExpression pattern {QLatin1String(LINE_PATTERN)};
    const QRegularExpressionMatch match = pattern.match(line);
    return match.hasMatch() ? match.captured(1) + QLatin1Char(' ') + match.captured(2) : QString();
}

// Writes from several threads at once.
class Writer : public QThread
{
public:
    Writer(const Logger &logger, int id, int count)
        : m_logger(logger)
        , m_id(id)
        , m_count(count)
    { }

protected:
    void run() override
    {
        const QString filler(200, QLatin1Char('x'));
        for (int i = 0; i < m_count; ++i)
            m_logger.info(QStringLiteral("writer %1 line %2 %3 end").arg(m_id).arg(i).arg(filler));
    }

private:
    Logger m_logger;
    int m_id;
    int m_count;
};

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString newPath() { return m_dir.filePath(QStringLiteral("log-%1.log").arg(++m_fileNumber)); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void lineForms_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("expected");
        QTest::newRow("debug text") << 0 << "DEBUG void Daemon::cleanSourceDir()";
        QTest::newRow("debug where") << 1 << "DEBUG void Daemon::start(): starting up";
        QTest::newRow("debug value") << 2 << "DEBUG void Daemon::start(): m_task = -7";
        QTest::newRow("info") << 3 << "INFO Loading settings, reload = 1";
        QTest::newRow("warning") << 4 << "WARNING disk is nearly full";
        QTest::newRow("error") << 5 << "ERROR cannot start: 100% sure";
    }

    void lineForms()
    {
        QFETCH(int, form);
        QFETCH(QString, expected);
        const QString path = newPath();
        const Logger logger(path, Logger::Debug);
        const QString where = QStringLiteral("void Daemon::start()");
        switch (form) {
        case 0:
            logger.debug(QStringLiteral("void Daemon::cleanSourceDir()"));
            break;
        case 1:
            logger.debug(where, QStringLiteral("starting up"));
            break;
        case 2:
            logger.debug(where, QStringLiteral("m_task"), -7);
            break;
        case 3:
            logger.info(QStringLiteral("Loading settings, reload = %1").arg(1));
            break;
        case 4:
            logger.warning(QStringLiteral("disk is nearly full"));
            break;
        case 5:
            logger.error(QStringLiteral("cannot start: 100% sure"));
            break;
        }
        const QStringList lines = readLines(path);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(levelAndText(lines.first()), expected);
    }

    void timeStampIsNow()
    {
        const QString path = newPath();
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
        Logger(path, Logger::Debug).info(QStringLiteral("now"));
        const QDateTime after = QDateTime::currentDateTime().addMSecs(1);
        const QStringList lines = readLines(path);
        QCOMPARE(lines.size(), 1);
        const QDateTime stamp = QDateTime::fromString(lines.first().left(23),
                                                      QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        QVERIFY2(stamp >= before && stamp <= after, qPrintable(lines.first()));
    }

    void filtering_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("debug") << int(Logger::Debug)
                               << QStringList {"DEBUG d", "DEBUG where: d2", "DEBUG where: n = 1",
                                               "INFO i",  "WARNING w",       "ERROR e"};
        QTest::newRow("info") << int(Logger::Info)
                              << QStringList {"INFO i", "WARNING w", "ERROR e"};
        QTest::newRow("warning") << int(Logger::Warning) << QStringList {"WARNING w", "ERROR e"};
        QTest::newRow("error") << int(Logger::Error) << QStringList {"ERROR e"};
        QTest::newRow("between info and warning") << 25 << QStringList {"WARNING w", "ERROR e"};
    }

    void filtering()
    {
        QFETCH(int, level);
        QFETCH(QStringList, expected);
        const QString path = newPath();
        Logger logger(path, Logger::Level(level));
        logger.debug(QStringLiteral("d"));
        logger.debug(QStringLiteral("where"), QStringLiteral("d2"));
        logger.debug(QStringLiteral("where"), QStringLiteral("n"), 1);
        logger.info(QStringLiteral("i"));
        logger.warning(QStringLiteral("w"));
        logger.error(QStringLiteral("e"));
        QStringList got;
        for (const QString &line : readLines(path))
            got << levelAndText(line);
        QCOMPARE(got, expected);
    }

    void setLevelByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("warns");
        QTest::newRow("debug") << "debug" << int(Logger::Debug) << false;
        QTest::newRow("Info") << "Info" << int(Logger::Info) << false;
        QTest::newRow("WARNING") << "WARNING" << int(Logger::Warning) << false;
        QTest::newRow("eRRoR") << "eRRoR" << int(Logger::Error) << false;
        QTest::newRow("unknown") << "verbose" << int(Logger::Info) << true;
        QTest::newRow("empty") << "" << int(Logger::Info) << true;
        QTest::newRow("number") << "10" << int(Logger::Info) << true;
    }

    void setLevelByName()
    {
        QFETCH(QString, name);
        QFETCH(int, expected);
        QFETCH(bool, warns);
        const QString path = newPath();
        Logger logger(path, Logger::Info);
        logger.setLevel(name);
        QCOMPARE(int(logger.level()), expected);
        const QStringList lines = readLines(path);
        if (!warns) {
            QCOMPARE(lines, QStringList());
            return;
        }
        QCOMPARE(lines.size(), 1);
        QVERIFY2(levelAndText(lines.first()).startsWith(QStringLiteral("WARNING ")),
                 qPrintable(lines.first()));
        QVERIFY2(lines.first().contains(QStringLiteral("\"%1\"").arg(name)),
                 qPrintable(lines.first()));
    }

    void copiesShareFileAndLevel()
    {
        const QString path = newPath();
        Logger original(path, Logger::Warning);
        const Logger copy = original;
        QCOMPARE(copy.filePath(), path);
        QCOMPARE(copy.level(), Logger::Warning);
        original.setLevel(Logger::Debug); // the copy keeps its own level
        copy.info(QStringLiteral("dropped"));
        copy.error(QStringLiteral("from copy"));
        original.info(QStringLiteral("from original"));
        QStringList got;
        for (const QString &line : readLines(path))
            got << levelAndText(line);
        QCOMPARE(got, QStringList({"ERROR from copy", "INFO from original"}));
    }

    // A log that cannot be opened sends the line to stderr; checked in a
    // child so that its stderr can be read.
    void unwritableFallsBackToStderr()
    {
        const QString path = m_dir.filePath(QStringLiteral("no-such-dir/service.log"));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QLatin1String(STDERR_MODE), path, QStringLiteral("rescued line")});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(child.readAllStandardError())
                                          .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(levelAndText(lines.at(0)), QStringLiteral("ERROR rescued line"));
        QCOMPARE(levelAndText(lines.at(1)), QStringLiteral("DEBUG child: second = 2"));
        QVERIFY(!QFile::exists(path));
    }

    void concurrentWritersGiveWholeLines()
    {
        const QString path = newPath();
        const Logger logger(path, Logger::Debug);
        const int writers = 6;
        const int perWriter = 400;
        std::vector<std::unique_ptr<Writer>> threads;
        for (int id = 0; id < writers; ++id)
            threads.push_back(std::make_unique<Writer>(logger, id, perWriter));
        for (auto &thread : threads)
            thread->start();
        for (auto &thread : threads)
            QVERIFY(thread->wait(60000));

        const QStringList lines = readLines(path);
        QCOMPARE(lines.size(), writers * perWriter);
        static const QRegularExpression body(
                QStringLiteral("^INFO writer (\\d+) line (\\d+) x{200} end$"));
        std::vector<int> next(writers, 0);
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = body.match(levelAndText(line));
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const int id = match.captured(1).toInt();
            // Each writer's lines come in its own order.
            QCOMPARE(match.captured(2).toInt(), next[size_t(id)]);
            ++next[size_t(id)];
        }
    }
};

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], STDERR_MODE) == 0) {
        const Logger logger(QFile::decodeName(argv[2]), Logger::Debug);
        logger.error(QString::fromUtf8(argv[3]));
        logger.debug(QStringLiteral("child"), QStringLiteral("second"), 2);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestLogger test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logger.moc"
