#pragma once

#include <QString>
#include <QtGlobal>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class QFile;

#include "base/nocopyable.h"

namespace Utils {

// Keeps every message of the program in a file a user can attach to a support request, besides passing
// it on to the handler that was there before (stderr). The file is bounded: when the next line would take
// it past the limit it becomes "<name>.1", replacing the older one. A thread of its own writes, so a slow
// disk never holds up the thread that logs; when the queue is full, messages are dropped and counted. A
// folder that cannot be written costs the file, never the program. One instance at a time.
class SupportLog : private NoCopyable {
public:
    static constexpr qint64 kDefaultLimit = 1024 * 1024;
    static constexpr int kQueueLimit = 4096;

    // Starts the writer and installs the message handler.
    SupportLog(const QString& folder, const QString& name, qint64 limit = kDefaultLimit);
    // Writes what is queued, then restores the earlier handler.
    ~SupportLog();

    // The per-user state folder: $XDG_STATE_HOME/meldra (~/.local/state/meldra without it) on Linux, the
    // local application data folder's "meldra" on Windows.
    [[nodiscard]] static QString defaultFolder();

    [[nodiscard]] QString filePath() const;
    // Returns once everything logged before the call has been written, or has been given up.
    void flush();

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void enqueue(QString line);
    void run();
    // On the writer thread only.
    void write(const QByteArray& line);
    bool openFile(bool truncate);

    const QString m_folder;
    const QString m_path;
    const qint64 m_limit;
    QtMessageHandler m_previous = nullptr;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<QString> m_queue;
    quint64 m_dropped = 0;
    quint64 m_queued = 0;
    quint64 m_written = 0;
    bool m_stopping = false;

    // The writer thread's own.
    std::unique_ptr<QFile> m_file;
    qint64 m_size = 0;
    bool m_unwritable = false;
    std::thread m_thread;
};

}  // namespace Utils
