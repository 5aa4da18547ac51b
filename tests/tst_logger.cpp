// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

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

    // Every line form, and which of them each level lets through.
    void filtering_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("firstKept"); // index into the full list below
        QTest::newRow("debug") << int(Logger::Debug) << 0;
        QTest::newRow("info") << int(Logger::Info) << 3;
        QTest::newRow("warning") << int(Logger::Warning) << 4;
        QTest::newRow("error") << int(Logger::Error) << 5;
        QTest::newRow("between info and warning") << 25 << 4;
    }

    void filtering()
    {
        QFETCH(int, level);
        QFETCH(int, firstKept);
        const QString path = newPath();
        const Logger logger(path, Logger::Level(level));
        const QString where = QStringLiteral("void Daemon::start()");
        logger.debug(QStringLiteral("void Daemon::cleanSourceDir()"));
        logger.debug(where, QStringLiteral("starting up"));
        logger.debug(where, QStringLiteral("m_task"), -7);
        logger.info(QStringLiteral("Loading settings, reload = %1").arg(1));
        logger.warning(QStringLiteral("disk is nearly full"));
        logger.error(QStringLiteral("cannot start: 100% sure"));
        const QStringList all {"DEBUG void Daemon::cleanSourceDir()",
                               "DEBUG void Daemon::start(): starting up",
                               "DEBUG void Daemon::start(): m_task = -7",
                               "INFO Loading settings, reload = 1",
                               "WARNING disk is nearly full",
                               "ERROR cannot start: 100% sure"};
        QStringList got;
        for (const QString &line : readLines(path))
            got << levelAndText(line);
        QCOMPARE(got, all.mid(firstKept));
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
        // An unknown name: one warning naming it.
        const QStringList lines = readLines(path);
        QCOMPARE(lines.size(), warns ? 1 : 0);
        if (warns)
            QVERIFY2(levelAndText(lines.first()).startsWith(QStringLiteral("WARNING "))
                             && lines.first().contains(QStringLiteral("\"%1\"").arg(name)),
                     qPrintable(lines.first()));
    }

    void copiesShareFileAndLevel()
    {
        const QString path = newPath();
        Logger original(path, Logger::Warning);
        const Logger copy = original;
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
        static const int perWriter = 400;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int id = 0; id < writers; ++id) {
            threads.emplace_back(QThread::create([logger, id] {
                const QString filler(200, QLatin1Char('x'));
                for (int i = 0; i < perWriter; ++i)
                    logger.info(
                            QStringLiteral("writer %1 line %2 %3 end").arg(id).arg(i).arg(filler));
            }));
            threads.back()->start();
        }
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
