// `cmake --install` into a fresh prefix: the program, a desktop entry that
// names it and its icon, and the icon in each size a desktop looks for.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void programInBin();
    void desktopEntryNamesWhatIsInstalled();
    void desktopEntryValidates();
    void iconsInEachSize_data();
    void iconsInEachSize();

private:
    QString Path(const QString &relative) const { return m_prefix.path() + QLatin1Char('/') + relative; }
    QTemporaryDir m_prefix;
    QMap<QString, QString> m_entry;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(ORV_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(ORV_BUILD_DIR), QStringLiteral("--prefix"),
                   m_prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());

    QFile desktop(Path(QStringLiteral("share/applications/orvanta-mail.desktop")));
    QVERIFY2(desktop.open(QIODevice::ReadOnly), qPrintable(desktop.fileName()));
    bool inEntry = false;
    for (const QByteArray &raw : desktop.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && line.contains(QLatin1Char('=')))
            m_entry.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
}

void TestInstall::programInBin()
{
    const QFileInfo program(Path(QStringLiteral("bin/orvmail")));
    QVERIFY(program.isFile());
    QVERIFY(program.isExecutable());
    QFile file(program.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(4), QByteArray("\x7f" "ELF"));
    // Nothing else: no test programs or benchmarks among the commands.
    QCOMPARE(QDir(Path(QStringLiteral("bin"))).entryList(QDir::Files | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("orvmail")});

    // An installed program must not depend on the build folder.
    const QString readelf = QStandardPaths::findExecutable(QStringLiteral("readelf"));
    if (readelf.isEmpty())
        QSKIP("readelf is missing");
    QProcess dyn;
    dyn.start(readelf, {QStringLiteral("-d"), program.filePath()});
    QVERIFY(dyn.waitForFinished(30000));
    const QByteArray dynamic = dyn.readAllStandardOutput();
    QVERIFY2(!dynamic.contains(QByteArray(ORV_BUILD_DIR)), dynamic.constData());
    // The network, TLS and SASL libraries come with the engines' module at
    // the first connection, not at every start.
    for (const char *library : {"libQt6Network", "libgsasl"})
        QVERIFY2(!dynamic.contains(library), library);
    QVERIFY(QFileInfo(program.absolutePath() + QStringLiteral("/" ORV_ENGINES_FROM_PROGRAM)).isFile());
}

void TestInstall::desktopEntryNamesWhatIsInstalled()
{
    QCOMPARE(m_entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(m_entry.value(QStringLiteral("Name")), QStringLiteral("Orvanta Mail"));
    const QString command = m_entry.value(QStringLiteral("Exec")).section(QLatin1Char(' '), 0, 0);
    QVERIFY2(QFileInfo(Path(QStringLiteral("bin/") + command)).isExecutable(), qPrintable(command));
    const QString icon = m_entry.value(QStringLiteral("Icon"));
    QCOMPARE(icon, QStringLiteral("orvanta-mail"));
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("share/icons/hicolor/48x48/apps/%1.png").arg(icon))));
    const QStringList categories = m_entry.value(QStringLiteral("Categories")).split(QLatin1Char(';'));
    QVERIFY(categories.contains(QStringLiteral("Network")));
    QVERIFY(categories.contains(QStringLiteral("Email")));
}

void TestInstall::desktopEntryValidates()
{
    const QString validate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validate.isEmpty())
        QSKIP("desktop-file-validate is missing: scripts/deps.sh test installs it");
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(validate, {Path(QStringLiteral("share/applications/orvanta-mail.desktop"))});
    QVERIFY(check.waitForFinished(30000));
    const QByteArray said = check.readAll();
    // It prints hints and errors; either is a fault here.
    QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
}

void TestInstall::iconsInEachSize_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("size");
    for (int size : {32, 48, 64, 128, 256}) {
        QTest::addRow("hicolor %d", size)
            << QStringLiteral("share/icons/hicolor/%1x%1/apps/orvanta-mail.png").arg(size) << size;
    }
    QTest::addRow("pixmaps") << QStringLiteral("share/pixmaps/orvanta-mail.png") << 48;
}

void TestInstall::iconsInEachSize()
{
    QFETCH(QString, file);
    QFETCH(int, size);
    QImageReader reader(Path(file));
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(size, size));
    // Clear around the envelope, the seal solid in the middle.
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
