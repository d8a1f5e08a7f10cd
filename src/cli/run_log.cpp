#include "run_log.h"

#include "file_names.h"
#include "file_util.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

RunLog::RunLog(const QString& file) : file_(file) {
    if (file == QLatin1String("-")) {
        fd_ = STDOUT_FILENO;
        return;
    }
    // Added to, never cut: a log named by mistake after a picture keeps the picture.
    fd_ = ::open(fileNameBytes(file).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    own_ = fd_ >= 0;
    if (fd_ < 0) error_ = errno;
}

RunLog::~RunLog() {
    if (own_) ::close(fd_);
}

bool RunLog::add(const QString& source, const QString& jpeg, const char* outcome, const QString& reason, qint64 bytes,
                 double seconds) {
    const QByteArray line = "{\"source\":" + jsonString(source) + ",\"jpeg\":" + jsonString(jpeg) + ",\"outcome\":\"" +
                            outcome + "\",\"reason\":" + jsonString(reason) + ",\"bytes\":" + QByteArray::number(bytes) +
                            ",\"time\":" + QByteArray::number(seconds, 'f', 6) + "}\n";
    // One write for the line (a file opened for adding takes it whole); more only if the system takes part of it.
    if (files::writeAll(fd_, line.constData(), static_cast<std::size_t>(line.size()))) return true;
    error_ = errno;
    return false;
}

QByteArray jsonString(QStringView text) {
    QString out = QStringLiteral("\"");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool paired = QChar::isHighSurrogate(c) ? i + 1 < text.size() && text[i + 1].isLowSurrogate()
                                                      : QChar::isLowSurrogate(c) && i > 0 && text[i - 1].isHighSurrogate();
        if (c == u'"' || c == u'\\') {
            out += QLatin1Char('\\') + QChar(c);
        } else if (c == u'\n') {
            out += QLatin1String("\\n");
        } else if (c == u'\t') {
            out += QLatin1String("\\t");
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029 || (QChar::isSurrogate(c) && !paired)) {
            // Controls (C1 too) and a lone surrogate, which UTF-8 cannot carry.
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        } else {
            out += QChar(c);
        }
    }
    out += QLatin1Char('"');
    return out.toUtf8();
}
