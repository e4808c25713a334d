#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryFile>

namespace UIMediator {

// A private copy of an image for the flashing engine, so that nothing can change or remove the file while
// it is written to the device. The copy is removed when the object goes.
class StagedImage {
public:
    StagedImage() = default;
    StagedImage(const StagedImage&) = delete;
    StagedImage& operator=(const StagedImage&) = delete;
    ~StagedImage();

    // False when the source cannot be read whole or the copy cannot be written whole: a partial copy must
    // never reach the device.
    bool stage(const QString& source_path);

    // The copy's full name as the framework gives it; empty until stage succeeded.
    [[nodiscard]] QString fileName() const;
    // Why the last stage failed, for the log.
    [[nodiscard]] QString errorString() const { return m_error; }

private:
    bool fail(const QString& why);

    QFile m_source;
    QTemporaryFile m_copy;
    bool m_staged = false;
    QString m_error;
};

}  // namespace UIMediator
