// The real program started as a user or host program starts it.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    // Without an argument the creation handler asks to close; the window
    // must appear all the same and the program keep running.
    void startsWithoutArgumentAndKeepsRunning()
    {
        QTemporaryDir dir;
        QProcess program;
        program.setWorkingDirectory(dir.path());
        program.start(QStringLiteral(ORVMAIL_BIN), {});
        QVERIFY(program.waitForStarted());
        QVERIFY2(!program.waitForFinished(1500), "the program ended on its own");
        program.kill();
        program.waitForFinished();
    }
};

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
