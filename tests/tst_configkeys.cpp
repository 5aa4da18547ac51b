// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The table of configuration keys against everything that restates it: the
// shipped template, the manual page, the reference and the README, and the
// store's reading of every key.

#include "configkeys.h"
#include "settingscontroller.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString sourceFile(const char *relative)
{
    return qEnvironmentVariable("KIRTA_SOURCE_DIR") + QLatin1Char('/') + QLatin1String(relative);
}

QByteArray readSource(const char *relative)
{
    QFile file(sourceFile(relative));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    return file.readAll();
}

// How a document writes a key's default.
bool sameDefault(const ConfigKeys::Key &key, const QString &written)
{
    const QString text = written.trimmed();
    if (QByteArray(key.defaultText).isEmpty())
        return text == QLatin1String("empty") || text == QLatin1String("none")
               || text == QLatin1String("unset");
    return text == QLatin1String(key.defaultText);
}

// The word a document uses for a key's unit; empty for none.
QString unitWord(ConfigKeys::Unit unit)
{
    switch (unit) {
    case ConfigKeys::Unit::Minutes:
        return QStringLiteral("minutes");
    case ConfigKeys::Unit::Hours:
        return QStringLiteral("hours");
    case ConfigKeys::Unit::Days:
        return QStringLiteral("days");
    case ConfigKeys::Unit::Percent:
        return QStringLiteral("percent");
    case ConfigKeys::Unit::None:
        break;
    }
    return QString();
}

} // namespace

class TestConfigKeys : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void templateIsTheTable()
    {
        const QByteArray shipped = readSource("data/kirta-update-daemon.conf");
        const QByteArray generated = ConfigKeys::templateText();
        if (shipped != generated) {
            const QList<QByteArray> a = shipped.split('\n');
            const QList<QByteArray> b = generated.split('\n');
            for (int i = 0; i < qMin(a.size(), b.size()); ++i)
                QVERIFY2(a.at(i) == b.at(i),
                         qPrintable(QStringLiteral("line %1: shipped \"%2\", table \"%3\"")
                                            .arg(i + 1)
                                            .arg(QString::fromUtf8(a.at(i)),
                                                 QString::fromUtf8(b.at(i)))));
            QCOMPARE(a.size(), b.size());
        }
    }

    // The template read by the store: every key the administrator sets is
    // present with its default, and nothing in it is reported.
    void templateReadsAsTheDefaults()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("kirta-update-daemon.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ConfigKeys::templateText());
        file.close();

        SettingsController store(path);
        store.load();
        QCOMPARE(store.lastWarnings(), QStringList());
        const Params loaded = store.params();
        const Params defaults = ConfigKeys::defaults();
        for (const ConfigKeys::Key *key = ConfigKeys::begin(); key != ConfigKeys::end(); ++key) {
            QCOMPARE(ConfigKeys::isSet(*key, loaded), !key->writtenByDaemon);
            QVERIFY2(!ConfigKeys::isSet(*key, defaults), key->name);
            QString fromFile;
            QString fromTable;
            QVERIFY(ConfigKeys::render(*key, loaded, &fromFile));
            QVERIFY(ConfigKeys::render(*key, defaults, &fromTable));
            QCOMPARE(fromFile, fromTable);
            QCOMPARE(fromTable, QLatin1String(key->defaultText));
        }
    }

    void unreadableValueTakesTheDefault_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("warning");
        for (const ConfigKeys::Key *key = ConfigKeys::begin(); key != ConfigKeys::end(); ++key) {
            const QString name = QLatin1String(key->name);
            const auto row = [&](const char *text) {
                const QString usingWhat = key->kind == ConfigKeys::Kind::Date
                                                  ? QStringLiteral("leaving it unset")
                                                  : QStringLiteral("using default %1")
                                                            .arg(QLatin1String(key->defaultText));
                QTest::newRow(qPrintable(name + QLatin1Char(' ') + QLatin1String(text)))
                        << name << QByteArray(text)
                        << QStringLiteral("Malformed value \"%1\" for key %2, %3")
                                   .arg(QLatin1String(text), name, usingWhat);
            };
            switch (key->kind) {
            case ConfigKeys::Kind::Count:
                row("-1");
                row("2147483648");
                break;
            case ConfigKeys::Kind::Integer:
                row("1.5");
                row("-2147483649");
                break;
            case ConfigKeys::Kind::Action:
                row("Sometimes");
                break;
            case ConfigKeys::Kind::Bool:
                row("maybe");
                break;
            case ConfigKeys::Kind::Date:
                row("13:99 01.01.2020");
                break;
            case ConfigKeys::Kind::NonEmptyText:
            case ConfigKeys::Kind::Text:
                break; // every text is readable
            }
        }
    }

    void unreadableValueTakesTheDefault()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, text);
        QFETCH(QString, warning);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("kirta-update-daemon.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(key.toUtf8() + '=' + text + '\n');
        file.close();

        SettingsController store(path);
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        store.load();
        QCOMPARE(store.lastWarnings(), QStringList {warning});
        const ConfigKeys::Key *entry = ConfigKeys::find(key);
        QVERIFY(entry);
        QVERIFY(!ConfigKeys::isSet(*entry, store.params()));
        QVERIFY(ConfigKeys::sameField(*entry, store.params(), ConfigKeys::defaults()));
    }

    // Every key has an entry in the manual page that gives its default and
    // its least value, and the page describes no key the table lacks.
    void manualPageFollowsTheTable()
    {
        const QString page = QString::fromUtf8(readSource("man/kirta-update-daemon.conf.5.scd"));
        const int start = page.indexOf(QLatin1String("\n# KEYS\n"));
        QVERIFY(start >= 0);
        const int stop = page.indexOf(QLatin1String("\n# "), start + 1);
        const QStringList lines = page.mid(start, stop - start).split(QLatin1Char('\n'));

        QHash<QString, QString> entries; // key -> its paragraph
        QHash<QString, QString> heads; // key -> its entry line
        const QRegularExpression entryKey(QStringLiteral("\\*([A-Za-z_]+)\\*="));
        QStringList current;
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1Char('*'))) {
                current.clear();
                auto it = entryKey.globalMatch(line);
                while (it.hasNext())
                    current << it.next().captured(1);
                for (const QString &name : current) {
                    QVERIFY2(ConfigKeys::find(name) || name == QLatin1String("host_to_ping"),
                             qPrintable(QStringLiteral("the page describes %1").arg(name)));
                    entries.insert(name, QString());
                    heads.insert(name, line);
                }
            } else if (line.startsWith(QLatin1Char('\t'))) {
                for (const QString &name : current)
                    entries[name] += line + QLatin1Char(' ');
            }
        }
        for (const ConfigKeys::Key *key = ConfigKeys::begin(); key != ConfigKeys::end(); ++key) {
            const QString name = QLatin1String(key->name);
            QVERIFY2(entries.contains(name), qPrintable(name + QStringLiteral(" has no entry")));
            const QString text = entries.value(name);
            if (QByteArray(key->defaultText).isEmpty())
                QVERIFY2(text.contains(QLatin1String("empty")), qPrintable(name));
            else
                QVERIFY2(text.contains(QLatin1Char('*') + QLatin1String(key->defaultText)
                                       + QLatin1Char('*')),
                         qPrintable(name + QStringLiteral(": no default ") + key->defaultText));
            if (key->floor > 0)
                QVERIFY2(text.contains(QStringLiteral("at least %1").arg(key->floor)),
                         qPrintable(name));
            if (!unitWord(key->unit).isEmpty())
                QVERIFY2(heads.value(name).contains(QLatin1Char('_') + unitWord(key->unit)
                                                    + QLatin1Char('_')),
                         qPrintable(name + QStringLiteral(": not in ") + unitWord(key->unit)));
        }
    }

    void keyTables_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<bool>("everyKey");
        QTest::newRow("reference") << QStringLiteral("docs/reference.md") << true;
        QTest::newRow("README") << QStringLiteral("README.md") << false;
    }

    // The reference lists every key; the README the usual ones. Both give
    // the table's defaults, the reference also the least values.
    void keyTables()
    {
        QFETCH(QString, document);
        QFETCH(bool, everyKey);
        const QString text = QString::fromUtf8(readSource(qPrintable(document)));
        const QRegularExpression keyName(QStringLiteral("`([A-Za-z_]+)`"));
        QSet<QString> seen;
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            const QStringList cells = line.split(QLatin1Char('|'));
            if (cells.size() != 5 || !cells.at(1).trimmed().startsWith(QLatin1Char('`')))
                continue;
            QStringList names;
            auto it = keyName.globalMatch(cells.at(1));
            while (it.hasNext())
                names << it.next().captured(1);
            if (names.isEmpty() || !ConfigKeys::find(names.first()))
                continue; // another table of the document
            // The reference has "key | unit | default", the README "key |
            // default | what".
            const QString unit = everyKey ? cells.at(2) : cells.at(3);
            const QString defaults = everyKey ? cells.at(3) : cells.at(2);
            for (int i = 0; i < names.size(); ++i) {
                const ConfigKeys::Key *key = ConfigKeys::find(names.at(i));
                QVERIFY2(key, qPrintable(names.at(i) + QStringLiteral(" is no key")));
                seen.insert(names.at(i));
                const QStringList parts = defaults.split(QLatin1Char(','));
                const QString written = parts.size() == names.size() ? parts.at(i) : defaults;
                QVERIFY2(sameDefault(*key, written),
                         qPrintable(names.at(i) + QStringLiteral(": ") + written));
                if (everyKey && key->floor > 0)
                    QVERIFY2(unit.contains(QStringLiteral("at least %1").arg(key->floor)),
                             qPrintable(names.at(i)));
                if (everyKey)
                    QVERIFY2(unit.contains(unitWord(key->unit)),
                             qPrintable(names.at(i) + QStringLiteral(": not in ")
                                        + unitWord(key->unit)));
            }
        }
        QVERIFY(!seen.isEmpty());
        if (everyKey) {
            for (const ConfigKeys::Key *key = ConfigKeys::begin(); key != ConfigKeys::end(); ++key)
                QVERIFY2(seen.contains(QLatin1String(key->name)),
                         qPrintable(QLatin1String(key->name) + QStringLiteral(" is missing")));
        }
    }
};

QTEST_GUILESS_MAIN(TestConfigKeys)
#include "tst_configkeys.moc"
