// --log: a JSON object a line for each file a run converted, skipped or
// failed, each line written whole, so a run killed halfway leaves whole lines.
#pragma once

#include <QByteArray>
#include <QString>

class RunLog {
public:
    // Opened for adding at its end ("-": standard output); see error().
    explicit RunLog(const QString& file);
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int error() const { return error_; }  // why it could not be opened or written (errno)
    const QString& file() const { return file_; }

    // {"source", "jpeg", "outcome", "reason", "bytes", "time"}; false when it could not be written.
    bool add(const QString& source, const QString& jpeg, const char* outcome, const QString& reason, qint64 bytes,
             double seconds);

private:
    QString file_;
    int fd_ = -1;
    bool own_ = false;
    int error_ = 0;
};

// `text` as a JSON string, quotes included, in UTF-8: control characters
// escaped, and a name's stray byte (held as U+DC80..U+DCFF) as "\udcXX", which
// Python's json.loads and os.fsencode turn back into that byte.
QByteArray jsonString(QStringView text);
