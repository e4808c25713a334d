#include "base/supportlog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <atomic>
#include <cstdio>
#include <utility>

namespace Utils {

namespace {

std::atomic<SupportLog*> g_active{nullptr};
std::atomic<QtMessageHandler> g_previous{nullptr};

const char* typeName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return "debug";
        case QtInfoMsg:
            return "info";
        case QtWarningMsg:
            return "warning";
        case QtCriticalMsg:
            return "critical";
        case QtFatalMsg:
            return "fatal";
    }
    return "?";
}

}  // namespace

SupportLog::SupportLog(const QString& folder, const QString& name, qint64 limit)
    : m_folder(folder), m_path(QDir(folder).filePath(name + QStringLiteral(".log"))), m_limit(limit) {
    m_thread = std::thread([this] { run(); });
    SupportLog* none = nullptr;
    if (g_active.compare_exchange_strong(none, this)) {
        m_previous = qInstallMessageHandler(&SupportLog::handle);
        g_previous.store(m_previous);
    }
}

SupportLog::~SupportLog() {
    if (g_active.load() == this) {
        qInstallMessageHandler(m_previous);
        g_active.store(nullptr);
    }
    flush();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

QString SupportLog::defaultFolder() {
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/meldra");
#else
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // The base directory rules ignore a relative path.
    if (state.isEmpty() || QDir::isRelativePath(state)) {
        state = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return state + QStringLiteral("/meldra");
#endif
}

QString SupportLog::filePath() const {
    return m_path;
}

void SupportLog::flush() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const quint64 target = m_queued;
    m_idle.wait(lock, [&] { return m_written >= target; });
}

void SupportLog::handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (SupportLog* const log = g_active.load()) {
        log->enqueue(QStringLiteral("%1 %2 %3: %4\n")
                         .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
                              QLatin1String(typeName(type)),
                              QLatin1String(context.category != nullptr ? context.category : "default"),
                              message));
        // The handler before this one ends the program on a fatal message: the line must be in the file
        // first. The writer never logs through Qt, so it cannot be the one waiting here.
        if (type == QtFatalMsg && std::this_thread::get_id() != log->m_thread.get_id()) {
            log->flush();
        }
    }
    if (const QtMessageHandler previous = g_previous.load()) {
        previous(type, context, message);
    }
}

void SupportLog::enqueue(QString line) {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= std::size_t(kQueueLimit)) {
            ++m_dropped;
            return;
        }
        m_queue.push_back(std::move(line));
        ++m_queued;
    }
    m_wake.notify_one();
}

void SupportLog::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) {
            break;
        }
        std::deque<QString> batch;
        batch.swap(m_queue);
        const quint64 dropped = std::exchange(m_dropped, 0);
        // The disk is touched only with the lock released, so a thread that logs never waits for it.
        lock.unlock();
        if (dropped > 0) {
            write(QStringLiteral("%1 messages dropped: the log could not keep up\n").arg(dropped).toUtf8());
        }
        for (const QString& line : batch) {
            write(line.toUtf8());
        }
        if (m_file) {
            m_file->flush();
        }
        lock.lock();
        m_written += batch.size();
        m_idle.notify_all();
    }
}

void SupportLog::write(const QByteArray& line) {
    if (!m_file && (m_unwritable || !openFile(false))) {
        return;
    }
    if (m_size > 0 && m_size + line.size() > m_limit) {
        m_file->close();
        const QString older = m_path + QStringLiteral(".1");
        QFile::remove(older);
        // Should the rename fail, the current file starts again empty rather than grow past the bound.
        QFile::rename(m_path, older);
        if (!openFile(true)) {
            return;
        }
    }
    // One line never takes the file past the bound on its own either.
    const QByteArray bounded = line.size() > m_limit ? line.left(int(m_limit)) : line;
    const qint64 n = m_file->write(bounded);
    if (n > 0) {
        m_size += n;
    }
}

bool SupportLog::openFile(bool truncate) {
    m_file = std::make_unique<QFile>(m_path);
    const bool folder = QDir().mkpath(m_folder);
    if (folder && m_file->open(QIODevice::WriteOnly | (truncate ? QIODevice::Truncate : QIODevice::Append))) {
        m_size = m_file->size();
        return true;
    }
    // Said once, straight to stderr: a message through the handler would only come back here. The program
    // goes on without its file.
    const QString why = folder ? m_file->errorString() : QStringLiteral("the folder cannot be made");
    std::fprintf(stderr, "support log %s cannot be written: %s\n",
                 qPrintable(QDir::toNativeSeparators(m_path)), qPrintable(why));
    m_file.reset();
    m_unwritable = true;
    return false;
}

}  // namespace Utils
