#include "file/filenames.h"

#include <QDir>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veltra {

#ifdef Q_OS_WIN

QString decodeFileName(QByteArrayView bytes)
{
    return QString::fromUtf8(bytes);
}

QByteArray encodeFileName(const QString &name)
{
    return name.toUtf8();
}

std::unique_ptr<QFile> openInputFile(const QString &path, FileProblem *problem)
{
    FileProblem found = FileProblem::None;
    auto file = std::make_unique<QFile>(path);
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        found = FileProblem::NotRegular;
    else if (!file->open(QIODevice::ReadOnly))
        found = FileProblem::Unusable;
    if (problem)
        *problem = found;
    return found == FileProblem::None ? std::move(file) : nullptr;
}

bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo left(a), right(b);
    if (left.exists() && right.exists())
        return left.canonicalFilePath().compare(right.canonicalFilePath(), Qt::CaseInsensitive) ==
               0;
    return QDir::cleanPath(left.absoluteFilePath())
               .compare(QDir::cleanPath(right.absoluteFilePath()), Qt::CaseInsensitive) == 0;
}

#else

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there starts none.
qsizetype utf8Sequence(QByteArrayView bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    qsizetype length = 0;
    char32_t low = 0; // the smallest code point of that length: no overlong forms
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        low = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    char32_t code = lead & (0x3F >> (length - 1));
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

constexpr char16_t kEscapeBase = 0xDC00; // a stray byte b travels as U+DC00 + b

} // namespace

QString decodeFileName(QByteArrayView bytes)
{
    QString name;
    name.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            name += QChar(lead);
            ++at;
        } else if (const qsizetype length = utf8Sequence(bytes, at)) {
            name += QString::fromUtf8(bytes.sliced(at, length));
            at += length;
        } else {
            name += QChar(char16_t(kEscapeBase + lead));
            ++at;
        }
    }
    return name;
}

QByteArray encodeFileName(const QString &name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t c = name[at].unicode();
        const bool pair =
            QChar::isHighSurrogate(c) && at + 1 < name.size() && name[at + 1].isLowSurrogate();
        if (pair) {
            bytes += name.sliced(at, 2).toUtf8();
            ++at;
        } else if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
            bytes += char(c - kEscapeBase);
        } else {
            bytes += QString(name[at]).toUtf8();
        }
    }
    return bytes;
}

std::unique_ptr<QFile> openInputFile(const QString &path, FileProblem *problem)
{
    const auto fail = [problem](FileProblem why) {
        if (problem)
            *problem = why;
        return nullptr;
    };
    // Non-blocking, so that a FIFO opens at once; what opened is then judged by the descriptor
    // itself, never by a second look at the name.
    int fd = -1;
    do
        fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(errno == EISDIR ? FileProblem::NotRegular : FileProblem::Unusable);
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool regular = S_ISREG(info.st_mode);
        ::close(fd);
        return fail(regular ? FileProblem::Unusable : FileProblem::NotRegular);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(FileProblem::Unusable);
    }
    if (problem)
        *problem = FileProblem::None;
    return file;
}

bool sameFile(const QString &a, const QString &b)
{
    struct stat left = {}, right = {};
    if (::stat(encodeFileName(a).constData(), &left) == 0 &&
        ::stat(encodeFileName(b).constData(), &right) == 0)
        return left.st_dev == right.st_dev && left.st_ino == right.st_ino;
    return QDir::cleanPath(QDir::current().absoluteFilePath(a)) ==
           QDir::cleanPath(QDir::current().absoluteFilePath(b));
}

#endif

} // namespace veltra
