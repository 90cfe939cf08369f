#pragma once
#include <QByteArray>
#include <QString>

// Small file helpers that report failures as the runtime words them
// (EInOutError with the operating system's error code).
namespace TextFile {

// Reads a whole file; throws EInOutError on failure.
QByteArray ReadAll(const QString &path);

// Reads line after line; a line ends at LF, CR LF or CR. At the end of the
// file a line is empty, as a reader of text files gives it.
class LineReader {
public:
    explicit LineReader(const QString &path); // throws EInOutError
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;
    QByteArray ReadLine(); // throws EInOutError
    void Close();          // throws EInOutError

private:
    bool Fill();
    int m_fd = -1;
    QByteArray m_buffer;
    qsizetype m_offset = 0; // start of the line being read
    qsizetype m_scan = 0;   // where the search for its end goes on
    bool m_eof = false;
};

// Replaces the file as a whole: the text goes to a new file beside it,
// which then takes the old one's place, so a failure part-way leaves the
// previous file intact. Throws EInOutError.
void ReplaceAtomically(const QString &path, const QByteArray &content);

// Bytes as text: UTF-8 when they are valid UTF-8, else Latin-1.
QString Decode(const QByteArray &bytes);

} // namespace TextFile
