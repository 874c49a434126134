#include "testsigning.h"
#include "updatesignature.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestUpdateSignature : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void verify_data()
    {
        QTest::addColumn<QByteArray>("installer");
        QTest::addColumn<QByteArray>("signedBytes");
        QTest::addColumn<int>("flipSignatureByte");
        QTest::addColumn<bool>("otherKey");
        QTest::addColumn<int>("signatureLength");
        QTest::addColumn<bool>("valid");

        const QByteArray script = "#!/bin/sh\necho installed\n";
        QTest::newRow("signed by the makers") << script << script << -1 << false << 64 << true;
        QTest::newRow("empty file, signed") << QByteArray() << QByteArray() << -1 << false << 64 << true;
        QTest::newRow("a byte of the signature changed") << script << script << 10 << false << 64 << false;
        QTest::newRow("signature of another file") << script << QByteArray("#!/bin/sh\nrm -rf ~\n") << -1 << false << 64 << false;
        QTest::newRow("file cut short") << script.left(10) << script << -1 << false << 64 << false;
        QTest::newRow("file with a byte added") << script + 'x' << script << -1 << false << 64 << false;
        QTest::newRow("signed with another key") << script << script << -1 << true << 64 << false;
        QTest::newRow("signature too short") << script << script << -1 << false << 63 << false;
        QTest::newRow("no signature") << script << script << -1 << false << 0 << false;
    }

    void verify()
    {
        QFETCH(QByteArray, installer);
        QFETCH(QByteArray, signedBytes);
        QFETCH(int, flipSignatureByte);
        QFETCH(bool, otherKey);
        QFETCH(int, signatureLength);
        QFETCH(bool, valid);

        const TestSigningKey makers = TestSigningKey::create();
        const TestSigningKey other = TestSigningKey::create();
        QVERIFY(makers.key && other.key);
        QByteArray signature = (otherKey ? other : makers).sign(signedBytes).left(signatureLength);
        if (flipSignatureByte >= 0)
            signature[flipSignatureByte] = char(signature[flipSignatureByte] ^ 0x01);

        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("InstallVarlo.exe")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(installer);
        file.close();
        QString reason;
        QCOMPARE(UpdateSignature::verifyFile(file.fileName(), signature, makers.publicKey, &reason), valid);
        QCOMPARE(reason.isEmpty(), valid);
    }

    void unusableKeysAndFiles_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<int>("keyBytes");
        QTest::newRow("64 hex digits") << QByteArray(64, 'a') << 32;
        QTest::newRow("63 digits") << QByteArray(63, 'a') << 0;
        QTest::newRow("not hex") << QByteArray(62, 'a') + "zz" << 0;
        QTest::newRow("empty: built without a key") << QByteArray() << 0;
    }

    // A program built without a key accepts nothing; nor does a file that is not there.
    void unusableKeysAndFiles()
    {
        QFETCH(QByteArray, hex);
        QFETCH(int, keyBytes);
        const QByteArray key = UpdateSignature::keyFromHex(hex);
        QCOMPARE(key.size(), keyBytes);
        const TestSigningKey makers = TestSigningKey::create();
        QTemporaryDir dir;
        QString reason;
        QVERIFY(!UpdateSignature::verifyFile(dir.filePath(QStringLiteral("missing")), QByteArray(64, '\0'),
                                             makers.publicKey, &reason));
        if (keyBytes == 0) {
            QFile file(dir.filePath(QStringLiteral("installer")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QVERIFY(!UpdateSignature::verifyFile(file.fileName(), makers.sign({}), key, &reason));
        }
    }
};

QTEST_GUILESS_MAIN(TestUpdateSignature)
#include "tst_updatesignature.moc"
