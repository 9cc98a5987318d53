#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

// Standard output (or another stream) with every write checked. The first failure is kept
// with its reason; later writes are still tried, so a pipe's reader that goes away early
// does not change what the sessions do. A failure is said once, by close().
class OutputStream {
public:
    explicit OutputStream(std::FILE* file = stdout)
        : file(file) {}

    // Before anything else opens a file: a closed standard descriptor (`>&-`) gets /dev/null,
    // so that no port or record is opened as descriptor 0, 1 or 2 and written to by mistake.
    // A closed standard output counts as a failed write.
    void guardClosedDescriptors();

    void write(const QByteArray& bytes);
    void write(const QString& text) { write(text.toUtf8()); }
    void flush();
    // Flushes and closes the stream; false (and a line on standard error) when any write failed.
    bool close(const char* program);

    std::FILE* stream() const { return file; }
    bool failed() const { return error != 0; }
    QString errorText() const;

private:
    void failedWith(int code);

    std::FILE* file;
    int error = 0; // errno of the first failure
};
