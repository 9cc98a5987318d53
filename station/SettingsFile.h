#pragma once

#include <QByteArray>
#include <QString>

// The settings file, read and written as bytes. Operators edit it by hand (the [Ports] table,
// comments in their own encoding, CRLF from another editor), so everything the utility does not
// write itself is kept byte for byte: encoding, byte-order mark, line ends, comments and order.
//
// A line `key=value` belongs to the section of the last `[section]` line above it (header and
// key compared after trimming white space; a leading UTF-8 byte-order mark is skipped). The value
// is everything after the first '=' up to the end of the line, trimmed: commas, semicolons and
// spaces inside are part of it, as in device paths.
//
// When a section or key appears more than once, the one that counts is the first line with that
// key in any section of that name, in file order. The writer replaces that same line; when there
// is none, it appends the line at the end of the first section of that name, or adds the section
// at the end of the file.
class SettingsText {
public:
    explicit SettingsText(QByteArray bytes = QByteArray());

    // Null when there is no such line; empty (not null) when the line has an empty value.
    QString value(const QString& section, const QString& key) const;
    // Changes only the bytes of the line that counts, keeping its own line end; a new line takes
    // the file's line end (that of its first line, LF for an empty file). A value holding a
    // line break cannot be stored and leaves the text unchanged (false).
    bool setValue(const QString& section, const QString& key, const QString& value);

    const QByteArray& bytes() const { return text; }

private:
    QByteArray text;
};

// Held around a read-change-write of the settings file, so that the window and the command line,
// started together, do not lose each other's new lines. The lock is an advisory lock on
// `<file>.lock`, which is kept afterwards. A lock that cannot be had within 3 s (held by a
// stuck program) or at all (an unwritable folder; a FIFO, a device link or a folder where the
// lock file should be) is gone without, never waiting longer: the write then reports its own
// failure, if any.
class SettingsLock {
public:
    explicit SettingsLock(const QString& file);
    ~SettingsLock();
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;

private:
    int fd = -1; // the open lock file while the lock is held
};

// $XDG_CONFIG_HOME/Kestrune_Update_Utility/Kestrune_Update_Utility.ini; ~/.config/... when the
// variable is unset, empty or not an absolute path. Only a name: nothing is opened.
QString defaultSettingsFile();

// An absent file gives an empty text. False, with the reason and an empty text, when the file
// cannot be read: it is not a regular file (a FIFO, a device or a link to one, a folder) or is
// larger than 1 MiB — checked before it is opened, opened without waiting, read bounded — or
// the system refuses it. Such a file counts as no settings and is never written.
bool loadSettingsText(const QString& file, SettingsText& settings, QString& error);
// The sentence for the operator when the file exists but cannot be used, else empty text:
// "The settings file … cannot be used: it is not a regular file; no settings are used."
QString settingsFileNote(const QString& file);
// Replaces the file whole or not at all (see SafeFileWrite), making its folder when needed; a
// symbolic link is kept and the file it leads to replaced. Refused when the file is not a
// regular file or its mode takes the owner's write permission away (also for root). False,
// with the reason as the system words it ("No space left on device"), when it cannot be
// written; the old file then keeps every byte.
bool saveSettingsText(const QString& file, const SettingsText& settings, QString& error);

// Null when the file, the section or the key is absent, or the file cannot be read (`note`
// then, when given, gets the reason).
QString readSettingsValue(const QString& file, const QString& section, const QString& key,
                          QString* note = nullptr);
// Writes one `key=value` line as described above; a file that would not change is not written.
// False, with the reason, when the file cannot be read or written.
bool storeSettingsValue(const QString& file, const QString& section, const QString& key, const QString& value,
                        QString& error);

// The stored COM port number. Only the utility writes it, as a bare number from 0 to 9; anything
// else (a hand edit, a damaged file) counts as 0, "no port".
qint16 storedPortNumber(const QString& settingsFile, QString* note = nullptr);
