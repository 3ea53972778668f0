// Station profiles: what an engineer writes is taken whole or refused with
// one line naming the key; what the set-up writes reads back the same.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "station/stationprofile.h"

class TestStationProfile : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile package(m_dir.filePath(QStringLiteral("ups_5-10k.zip")));
        QVERIFY(package.open(QIODevice::WriteOnly));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("keys")));
        QFile node(m_dir.filePath(QStringLiteral("ttyNode")));
        QVERIFY(node.open(QIODevice::WriteOnly));
        QFile::link(node.fileName(), m_dir.filePath(QStringLiteral("by-id-link")));
    }

    void refusesWithTheKey_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const QString base = QStringLiteral("package = ups_5-10k.zip\nreport = r.jsonl\n");
        QTest::newRow("package missing") << "report = r.jsonl\nslot.1 = /dev/ttyUSB0\n"
                                         << "package is missing";
        QTest::newRow("package not there") << "package = gone.zip\nreport = r.jsonl\nslot.1 = /dev/ttyUSB0\n"
                                           << "package: " + m_dir.filePath("gone.zip") + " is not there";
        QTest::newRow("no slot") << base << "slot.1 is missing";
        QTest::newRow("unknown key") << base + "slot.1 = /dev/ttyUSB0\nretry = 2\n"
                                     << "retry: unknown key (the keys are package, report, retries, "
                                        "require-signature, trusted-keys, start, serial, slot.N)";
        QTest::newRow("key twice") << base + "slot.1 = /dev/ttyUSB0\nreport = s.jsonl\n"
                                   << "report is given twice";
        QTest::newRow("same port twice") << base + "slot.1 = /dev/ttyUSB0\nslot.3 = /dev/ttyUSB0\n"
                                         << "slot.1 and slot.3 name the same port /dev/ttyUSB0";
        const QString node = m_dir.filePath(QStringLiteral("ttyNode"));
        QTest::newRow("a link and its device")
            << base + "slot.1 = " + m_dir.filePath("by-id-link") + "\nslot.2 = " + node + "\n"
            << "slot.1 and slot.2 name the same port " + node;
        QTest::newRow("slot number zero") << base + "slot.0 = /dev/ttyUSB0\n"
                                          << "slot.0: a slot is slot.N, N from 1 to 64";
        QTest::newRow("slot number padded") << base + "slot.01 = /dev/ttyUSB0\n"
                                            << "slot.01: a slot is slot.N, N from 1 to 64";
        QTest::newRow("slot without port") << base + "slot.1 =\n"
                                           << "slot.1: names no port";
        QTest::newRow("retries not a number") << base + "slot.1 = a\nretries = many\n"
                                              << "retries: \"many\" is not a whole number from 0 to 10";
        QTest::newRow("retries too many") << base + "slot.1 = a\nretries = 11\n"
                                          << "retries: \"11\" is not a whole number from 0 to 10";
        QTest::newRow("start misspelt") << base + "slot.1 = a\nstart = onconnect\n"
                                        << "start: \"onconnect\" is not one of on-connect, manual";
        QTest::newRow("serial misspelt") << base + "slot.1 = a\nserial = must\n"
                                         << "serial: \"must\" is not one of none, optional, required";
        QTest::newRow("signature neither") << base + "slot.1 = a\nrequire-signature = maybe\n"
                                           << "require-signature: \"maybe\" is neither true nor false";
        QTest::newRow("keys not a folder") << base + "slot.1 = a\ntrusted-keys = ups_5-10k.zip\n"
                                           << "trusted-keys: " + m_dir.filePath("ups_5-10k.zip") + " is not a folder";
        QTest::newRow("line without equals") << base + "slot.1 = a\njust words\n"
                                             << "line 4: not KEY = VALUE";
    }

    void refusesWithTheKey()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        const QString path = write(text);
        stationProfile profile;
        QString problem;
        QVERIFY(!stationProfile::load(path, &profile, &problem));
        QCOMPARE(problem, message.startsWith(QLatin1String("line")) ? path + ", " + message : path + ": " + message);
    }

    void refusesWhatIsNoFile()
    {
        stationProfile profile;
        QString problem;
        QVERIFY(!stationProfile::load(m_dir.path(), &profile, &problem));
        QVERIFY2(problem.startsWith(QStringLiteral("the profile %1 cannot be read: ").arg(m_dir.path())),
                 qPrintable(problem));
    }

    // Relative paths are the profile's folder's, slots come in number
    // order, and what save() writes load() reads back the same.
    void readsAndWritesBack()
    {
        const QString path =
            write(QStringLiteral("# bench 4\n[station]\npackage = ups_5-10k.zip\nreport = out/r.jsonl\n"
                                 "retries = 2\nrequire-signature = yes\ntrusted-keys = keys\n"
                                 "start = manual\nserial = required\nslot.2 = /dev/ttyUSB1\n"
                                 "slot.1 = /dev/serial/by-id/usb-x\n"));
        stationProfile profile;
        QString problem;
        QVERIFY2(stationProfile::load(path, &profile, &problem), qPrintable(problem));
        QCOMPARE(profile.package, m_dir.filePath(QStringLiteral("ups_5-10k.zip")));
        QCOMPARE(profile.report, m_dir.filePath(QStringLiteral("out/r.jsonl")));
        QCOMPARE(profile.trustedKeys, m_dir.filePath(QStringLiteral("keys")));
        QCOMPARE(profile.retries, 2);
        QVERIFY(profile.requireSignature);
        QCOMPARE(profile.start, stationProfile::Start::Manual);
        QCOMPARE(profile.serial, stationProfile::Serial::Required);
        QCOMPARE(profile.slotList.size(), 2);
        QCOMPARE(profile.slotList.at(0).port, QStringLiteral("/dev/serial/by-id/usb-x"));

        const QString copy = m_dir.filePath(QStringLiteral("copy.ini"));
        QVERIFY2(profile.save(copy, &problem), qPrintable(problem));
        stationProfile again;
        QVERIFY2(stationProfile::load(copy, &again, &problem), qPrintable(problem));
        QCOMPARE(again.text(), profile.text());
    }

private:
    QString write(const QString &text)
    {
        const QString path = m_dir.filePath(QStringLiteral("bench.ini"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0)
            return QString();
        return path;
    }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestStationProfile)
#include "test_stationprofile.moc"
