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
    if (source_path.isEmpty())
        return false;
    m_source.setFileName(source_path);
    if (!m_source.open(QIODevice::ReadOnly))
        return false;
    if (!m_copy.open())
        return false;

    const qint64 expected = m_source.size();
    const QByteArray image = m_source.readAll();
    if (image.size() != expected)
        return false;
    if (m_copy.write(image) != image.size())
        return false;
    if (!m_copy.flush())
        return false;
    m_staged = true;
    return true;
}

QString StagedImage::fileName() const {
    return m_staged ? m_copy.fileName() : QString();
}

}  // namespace UIMediator
