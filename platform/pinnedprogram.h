#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Platform {

// A downloaded program held so that the bytes that are checked are the bytes that start: nothing can
// change them between the check and the start, not even by replacing the file on disk.
class PinnedProgram {
public:
    // Anything larger is no installer of ours; the bound keeps a hostile file from filling memory.
    static constexpr qint64 kMaxSize = qint64(1) << 31;

    explicit PinnedProgram(const QString& path);
    ~PinnedProgram();
    PinnedProgram(const PinnedProgram&) = delete;
    PinnedProgram& operator=(const PinnedProgram&) = delete;

    [[nodiscard]] bool isOpen() const { return m_open; }
    // The pinned bytes; null for an empty file.
    [[nodiscard]] const uchar* data() const { return m_data; }
    [[nodiscard]] qint64 size() const { return m_size; }

    // Windows: the system accepts the file's Authenticode signature. Elsewhere always false.
    [[nodiscard]] bool hasPlatformSignature() const;

    // Starts the pinned bytes as a detached process; whether it really started is not known here.
    [[nodiscard]] bool startDetached(const QStringList& arguments) const;

private:
    QString m_path;
    bool m_open = false;
    const uchar* m_data = nullptr;
    qint64 m_size = 0;
    // Linux: a sealed memory file holding a private copy. Windows: a handle that denies writes.
    qintptr m_handle = -1;
#ifdef Q_OS_WIN
    // The file mapping behind m_data.
    qintptr m_mapping = 0;
#endif
};

}  // namespace Platform
