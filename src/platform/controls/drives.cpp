#include "drives.h"
#include "test_hooks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QSocketNotifier>
#include <QDirIterator>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
// How long a listing waits for drives it has not asked before, and a choice
// for the chosen drive: a share that answers later is listed again then.
constexpr std::chrono::milliseconds kListWait(300);
constexpr std::chrono::milliseconds kChooseWait(1000);

DriveSource& source() {
    static DriveSource s;
    return s;
}
DriveCheck& check() {
    static DriveCheck c;
    return c;
}
CaseRule& caseRule() {
    static CaseRule r;
    return r;
}
QHash<QString, QString>& currentFolders() {
    static QHash<QString, QString> folders;
    return folders;
}

bool isUnder(const QString& path, const QString& root) {
    if (root == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

struct Mount {
    QByteArray id;  // unique per mount, so another medium in the same place is asked afresh
    QString root;
    QByteArray type;
    QByteArray device;
};

// A field of the mount table: space, tab, line break and backslash come as \ooo.
QByteArray unescaped(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto octal = [&](qsizetype k) { return k < field.size() && field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The kernel's own table, read without asking any file system: it never blocks.
QList<Mount> mountTable() {
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly)) return {{"", QStringLiteral("/"), "rootfs", ""}};
    QList<Mount> mounts;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-", 6);
        if (separator < 0 || separator + 1 >= fields.size()) continue;
        mounts.append({fields[0], QFile::decodeName(unescaped(fields[4])), unescaped(fields[separator + 1]),
                       unescaped(fields.value(separator + 2))});
    }
    return mounts;
}

// Kernel and container plumbing that no user browses.
bool userFacing(const Mount& mount) {
    static const QSet<QByteArray> pseudo = {
        "proc",       "sysfs",     "cgroup",    "cgroup2",     "devpts",     "devtmpfs", "tmpfs",
        "ramfs",      "mqueue",    "debugfs",   "tracefs",     "securityfs", "pstore",   "bpf",
        "autofs",     "configfs",  "fusectl",   "hugetlbfs",   "binfmt_misc", "nsfs",    "efivarfs",
        "rpc_pipefs", "overlay",   "squashfs",  "nfsd",        "selinuxfs",  "fuse.gvfsd-fuse", "fuse.portal"};
    if (mount.root == QLatin1String("/")) return true;
    if (pseudo.contains(mount.type)) return false;
    for (const char* hidden : {"/proc", "/sys", "/dev", "/run/user", "/snap", "/boot", "/var/lib"})
        if (isUnder(mount.root, QLatin1String(hidden))) return false;
    return true;
}

// What a file system said when asked.
struct Answer {
    qint64 bytes = 0;
    QString label;
    bool readable = false;
};

// The answers, and the questions still out, by mount. Shared with the
// threads that ask: a thread stuck in a dead mount outlives any caller and
// is never waited for at exit.
struct Probes {
    std::mutex lock;
    std::condition_variable answered;
    QHash<QByteArray, Answer> answers;
    QHash<QByteArray, Clock::time_point> asking;  // since when
    int generation = 0;  // counts answers, and questions given up on

    bool stuck(const QByteArray& id, Clock::duration wait) const {
        const auto since = asking.constFind(id);
        return since != asking.constEnd() && Clock::now() - *since >= wait;
    }
};

const std::shared_ptr<Probes>& probes() {
    static const auto shared = std::make_shared<Probes>();
    return shared;
}

// The label udev gives a device, found without asking its file system.
QString labelOf(const QByteArray& device) {
    if (!device.startsWith("/dev/")) return {};
    const QString target = QFileInfo(QFile::decodeName(device)).canonicalFilePath();
    QDirIterator links(QStringLiteral("/dev/disk/by-label"), QDir::System | QDir::Files);
    while (links.hasNext()) {
        const QString link = links.next();
        if (QFileInfo(link).canonicalFilePath() != target) continue;
        QByteArray name = QFile::encodeName(links.fileName());
        for (qsizetype i = name.indexOf("\\x"); i >= 0 && i + 3 < name.size(); i = name.indexOf("\\x", i + 1))
            name.replace(i, 4, QByteArray(1, static_cast<char>(name.mid(i + 2, 2).toInt(nullptr, 16))));
        return QFile::decodeName(name);
    }
    return {};
}

// Asked in a child process: a thread stuck in a file system whose server has
// gone cannot be killed, and would keep the program (and its window) from
// ending. A stuck child holds nothing of ours. Only system calls after fork().
Answer askInChild(const QByteArray& root) {
    Answer answer;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return answer;
    struct Said {
        qint64 bytes;
        bool readable;
    } said{0, false};
    const pid_t child = ::fork();
    if (child == 0) {
        // Nothing of ours held, not even the output, should the child never end.
        if (pipe[1] > 0) ::close_range(0, static_cast<unsigned>(pipe[1]) - 1, 0);
        ::close_range(static_cast<unsigned>(pipe[1]) + 1, ~0U, 0);
        struct statfs volume {};
        struct stat folder {};
        if (::statfs(root.constData(), &volume) == 0)
            said.bytes = static_cast<qint64>(volume.f_blocks) * (volume.f_frsize != 0 ? volume.f_frsize : volume.f_bsize);
        said.readable = ::stat(root.constData(), &folder) == 0 && S_ISDIR(folder.st_mode) && ::access(root.constData(), R_OK | X_OK) == 0;
        const ssize_t written = ::write(pipe[1], &said, sizeof said);
        ::_exit(written == sizeof said ? 0 : 1);
    }
    ::close(pipe[1]);
    if (child > 0) {
        if (::read(pipe[0], &said, sizeof said) == sizeof said) answer = {said.bytes, QString(), said.readable};
        ::waitpid(child, nullptr, 0);
    }
    ::close(pipe[0]);
    return answer;
}

// Asks a file system for its size, unless a question to it is still out: a
// mount that hangs holds one child and one thread, never more. Lock held.
void ask(const Mount& mount) {
    Probes& p = *probes();
    if (p.asking.contains(mount.id)) return;
    p.asking.insert(mount.id, Clock::now());
    try {
        std::thread([shared = probes(), mount] {
            Answer answer = askInChild(QFile::encodeName(mount.root));
            answer.label = labelOf(mount.device);
            const std::lock_guard<std::mutex> held(shared->lock);
            shared->answers.insert(mount.id, answer);
            shared->asking.remove(mount.id);
            ++shared->generation;
            shared->answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        p.asking.remove(mount.id);  // no thread to spare: the drive stays unanswered
    }
}

// Keeps a watch on answers that come late, from the window's thread only.
void followAnswers() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() == app->thread()) DriveWatch::instance().followAnswers();
}

}  // namespace

QList<DriveInfo> systemDrives() {
    QMap<QString, Mount> shown;  // by root; the last mount on a root hides those below it
    const QList<Mount> table = mountTable();
    for (const Mount& mount : table)
        if (userFacing(mount)) shown.insert(mount.root, mount);

    Probes& p = *probes();
    std::unique_lock<std::mutex> held(p.lock);
    QList<QByteArray> asked;
    for (const Mount& mount : shown) {
        if (mount.id.isEmpty() || p.answers.contains(mount.id) || p.asking.contains(mount.id)) continue;
        ask(mount);
        asked << mount.id;
    }
    p.answered.wait_until(held, Clock::now() + kListWait, [&] {
        return std::none_of(asked.begin(), asked.end(), [&](const QByteArray& id) { return p.asking.contains(id); });
    });
    // Answers about mounts that have gone are forgotten.
    QSet<QByteArray> mounted;
    for (const Mount& mount : table) mounted.insert(mount.id);
    for (auto i = p.answers.begin(); i != p.answers.end();) i = mounted.contains(i.key()) ? std::next(i) : p.answers.erase(i);

    QList<DriveInfo> list;
    for (const Mount& mount : shown) {
        const auto answer = p.answers.constFind(mount.id);
        const bool slash = mount.root == QLatin1String("/");
        if (mount.id.isEmpty()) {
            list.append({mount.root, QString()});
        } else if (answer == p.answers.constEnd() || p.stuck(mount.id, kListWait)) {
            list.append({mount.root, QString(), false});
        } else if (answer->bytes > 0 || slash) {
            list.append({mount.root, answer->label});
        }
    }
    const bool waiting = !p.asking.isEmpty();
    held.unlock();
    if (waiting) followAnswers();
    if (!shown.contains(QStringLiteral("/"))) list.prepend({QStringLiteral("/"), QString()});
    return list;
}

void setDriveSource(DriveSource s, DriveCheck available) {
    source() = std::move(s);
    check() = std::move(available);
    currentFolders().clear();
}

QList<DriveInfo> drives() { return source() ? source()() : systemDrives(); }

bool driveAvailable(const QString& root) {
    if (check()) return check()(root);
    Mount mount;
    for (const Mount& m : mountTable())
        if (m.root == root) mount = m;
    if (mount.id.isEmpty()) {
        const QFileInfo info(root);
        return info.isDir() && info.isReadable();
    }
    // Asked afresh: a share that answered once may have gone since.
    Probes& p = *probes();
    std::unique_lock<std::mutex> held(p.lock);
    if (p.stuck(mount.id, kChooseWait)) return false;
    const Clock::time_point since = p.asking.value(mount.id, Clock::now());
    ask(mount);
    const bool answered = p.answered.wait_until(held, since + kChooseWait, [&] { return !p.asking.contains(mount.id); });
    const bool readable = answered && p.answers.value(mount.id).readable;
    held.unlock();
    if (!answered) followAnswers();
    return readable;
}

bool driveOf(const QString& path, DriveInfo* drive) {
    bool found = false;
    for (const DriveInfo& d : drives()) {
        if (isUnder(path, d.root) && (!found || d.root.size() > drive->root.size())) {
            *drive = d;
            found = true;
        }
    }
    return found;
}

bool driveAnswers(const QString& path) {
    DriveInfo drive;
    return !driveOf(QDir::cleanPath(path), &drive) || drive.answering;
}

QString currentFolderOf(const DriveInfo& drive) {
    const auto remembered = currentFolders().constFind(drive.root);
    return remembered != currentFolders().constEnd() ? *remembered : drive.root;
}

void rememberCurrentFolder(const QString& folder) {
    DriveInfo drive;
    if (driveOf(folder, &drive)) currentFolders().insert(drive.root, folder);
}

bool fileNamesIgnoreCase(const QString& path) {
    if (caseRule()) return caseRule()(path);
    static const QSet<QByteArray> ignoring = {"vfat", "msdos", "exfat", "cifs", "smb3", "smbfs", "hfs", "hfsplus"};
    // The mount table names the file system without asking it (the folder
    // itself is resolved, so that a link to a stick counts as the stick).
    const QString folder = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    QByteArray type;
    qsizetype longest = -1;
    for (const Mount& mount : mountTable()) {
        if (isUnder(folder, mount.root) && mount.root.size() >= longest) {
            longest = mount.root.size();
            type = mount.type;
        }
    }
    return ignoring.contains(type);
}

void setCaseRule(CaseRule rule) { caseRule() = std::move(rule); }

DriveWatch& DriveWatch::instance() {
    static auto* watch = new DriveWatch;  // never destroyed: it may still be asked while the program ends
    return *watch;
}

DriveWatch::DriveWatch() : answers_(new QTimer(this)) {
    // The kernel marks the mount table with an exceptional condition when it changes.
    const int table = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
    if (table >= 0)
        connect(new QSocketNotifier(table, QSocketNotifier::Exception, this), &QSocketNotifier::activated, this,
                &DriveWatch::changed);
    answers_->setInterval(500);
    connect(answers_, &QTimer::timeout, this, [this] {
        Probes& p = *probes();
        std::unique_lock<std::mutex> held(p.lock);
        const auto stuck = std::count_if(p.asking.keyBegin(), p.asking.keyEnd(), [&](const QByteArray& id) { return p.stuck(id, kListWait); });
        const qint64 given = (qint64{p.generation} << 32) + stuck;
        if (p.asking.isEmpty()) answers_->stop();
        held.unlock();
        if (given != std::exchange(seen_, given)) emit changed();
    });
}

void DriveWatch::followAnswers() {
    if (!answers_->isActive()) answers_->start();
}
