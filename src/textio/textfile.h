#pragma once
#include <QByteArray>
#include <QString>

// Small file helpers that report failures as the runtime words them
// (EInOutError with the operating system's error code).
namespace TextFile {

// Whether the path names a regular file (or a link to one): FIFOs, devices
// and sockets can block a reader or never end, so they are no text files.
bool IsRegularFile(const QString &path);

// Reads a whole regular file of at most maxBytes; throws EInOutError on
// failure, with EInOutError::NotAFile or EInOutError::TooLarge when it is
// not one or is longer. Opening never blocks.
QByteArray ReadAll(const QString &path, qint64 maxBytes);

// Reads line after line of a regular file; a line ends at LF, CR LF or CR.
// At the end of the file a line is empty, as a reader of text files gives
// it. Reading past maxBytes of the file throws EInOutError::TooLarge.
class LineReader {
public:
    LineReader(const QString &path, qint64 maxBytes); // throws EInOutError
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;
    QByteArray ReadLine(); // throws EInOutError
    void Close();          // throws EInOutError

private:
    bool Fill();
    int m_fd = -1;
    qint64 m_left = 0; // bytes still allowed
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
