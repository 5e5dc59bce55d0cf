#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <memory>

namespace veltra {

// A file name as the user gave it, bytes and all. On Linux a name is any bytes: a Shift-JIS or
// Latin-1 name from a zip is no UTF-8, and Qt 6 decodes each such byte to U+FFFD, so that
// "caf\xe9.DT" and "caf\xe8.DT" would name one file. Here a byte that is no part of valid UTF-8
// becomes a lone surrogate U+DC80..U+DCFF, which no valid UTF-8 can give, and goes back to its
// byte on the way out. On Windows names are UTF-16 already and pass unchanged.
QString decodeFileName(QByteArrayView bytes);
QByteArray encodeFileName(const QString &name);

// Why a file the tool was asked to read or write is not one it will touch.
enum class FileProblem {
    None,
    NotRegular,  // a device, a FIFO, a socket or a folder
    ReadOnly,    // refused even where the system would let the user (root) write it
    SameAsInput, // one of the command's own inputs
    Unusable,    // missing, no access, a full medium: what the system said
};

// Opens a file to read, once and without blocking: a FIFO would wait for a writer for ever, and
// a device may never end. Only a regular file opens; `problem` says why another did not.
std::unique_ptr<QFile> openInputFile(const QString &path, FileProblem *problem = nullptr);

// Whether both names reach one file (a link, another spelling); names of files that do not
// exist yet are compared as absolute paths.
bool sameFile(const QString &a, const QString &b);

} // namespace veltra
