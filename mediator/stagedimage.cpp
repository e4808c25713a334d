#include "mediator/stagedimage.h"

#include <QByteArray>

namespace UIMediator {

StagedImage::~StagedImage() {
    if (!m_copy.fileName().isEmpty()) {
        m_copy.close();
        m_copy.remove();
    }
    m_source.close();
}

bool StagedImage::stage(const QString& source_path) {
    m_staged = false;
    m_error.clear();
    if (source_path.isEmpty())
        return fail(QStringLiteral("no image was found"));
    m_source.setFileName(source_path);
    if (!m_source.open(QIODevice::ReadOnly))
        return fail(m_source.errorString());
    if (!m_copy.open())
        return fail(QStringLiteral("no temporary copy: ") + m_copy.errorString());
    const qint64 expected = m_source.size();
    const QByteArray image = m_source.readAll();
    if (image.size() != expected)
        return fail(QStringLiteral("read %1 of %2 bytes: %3")
                        .arg(image.size())
                        .arg(expected)
                        .arg(m_source.errorString()));
    if (m_copy.write(image) != image.size() || !m_copy.flush())
        return fail(QStringLiteral("writing the temporary copy: ") + m_copy.errorString());
    m_staged = true;
    return true;
}

bool StagedImage::fail(const QString& why) {
    m_error = why;
    return false;
}

QString StagedImage::fileName() const {
    return m_staged ? m_copy.fileName() : QString();
}

}  // namespace UIMediator
