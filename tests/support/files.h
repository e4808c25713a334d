#pragma once

#include <sys/resource.h>
#include <QByteArray>
#include <QString>
#include <csignal>

namespace TestSupport {

// The whole file, or missing when it cannot be read.
[[nodiscard]] QByteArray readFile(const QString& path, const QByteArray& missing = {});
// Makes the folders on the way; true when every byte was written.
bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false);

// While it lives, no file of this process grows past the limit: a write beyond it comes up short, as on a
// full disk, instead of raising the signal that would end the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    [[nodiscard]] bool isActive() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_previousHandler)(int) = nullptr;
    bool m_installed = false;
    bool m_active = false;
};

}  // namespace TestSupport
