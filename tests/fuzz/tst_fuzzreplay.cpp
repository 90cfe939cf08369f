// Replays the fuzz corpus and every input that once broke a parser through
// the fuzz entry functions, so that each stays fixed in the normal build.
#include "fuzzentries.h"

#include <QDir>
#include <QTest>

class TestFuzzReplay : public QObject {
    Q_OBJECT
private slots:
    void replay_data();
    void replay();
};

void TestFuzzReplay::replay_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("folder");
    for (int t = 0; t < int(std::size(kFuzzTargets)); ++t)
        for (const char *folder : {"corpus", "regressions"})
            QTest::addRow("%s %s", folder, kFuzzTargets[t].name)
                << t << QStringLiteral(ORV_FUZZ_DIR "/%1/%2").arg(QLatin1String(folder), QLatin1String(kFuzzTargets[t].name));
}

void TestFuzzReplay::replay()
{
    QFETCH(int, target);
    QFETCH(QString, folder);
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    if (folder.contains(QLatin1String("/corpus/")))
        QVERIFY2(!files.isEmpty(), qPrintable(folder + " holds no seed inputs"));
    for (const QFileInfo &info : files) {
        QFile file(info.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        const QByteArray name = info.filePath().toLocal8Bit();
        g_fuzzInput = name.constData(); // named if a check aborts
        kFuzzTargets[target].entry(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
        g_fuzzInput = nullptr;
    }
}

QTEST_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
