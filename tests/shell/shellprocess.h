#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// A helper process whose stdout is read line by line.
class ShellProcess {
public:
    ShellProcess(const QString& program, const QStringList& arguments,
                 const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
        : m_process(std::make_unique<QProcess>()) {
        m_process->setProcessEnvironment(environment);
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        m_process->start(program, arguments);
    }

    ~ShellProcess() {
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(3000)) {
                m_process->kill();
                m_process->waitForFinished(3000);
            }
        }
    }

    ShellProcess(const ShellProcess&) = delete;
    ShellProcess& operator=(const ShellProcess&) = delete;

    // The next line, or an empty string when none comes in time.
    QString nextLine(int timeoutMs = 5000) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process->canReadLine() && !deadline.hasExpired()) {
            if (!m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
                if (m_process->state() == QProcess::NotRunning) {
                    break;
                }
            }
        }
        if (!m_process->canReadLine()) {
            return {};
        }
        return QString::fromUtf8(m_process->readLine()).trimmed();
    }

    // Every line up to and including `last`; empty when `last` never comes.
    QStringList linesUntil(const QString& last, int timeoutMs = 5000) {
        const QDeadlineTimer deadline(timeoutMs);
        QStringList lines;
        while (!deadline.hasExpired()) {
            const QString line = nextLine(int(qMax<qint64>(1, deadline.remainingTime())));
            if (line.isNull()) {
                break;
            }
            lines << line;
            if (line == last) {
                return lines;
            }
        }
        return {};
    }

    // Whether the process ends within the time, with `*code` its exit code.
    bool finished(int timeoutMs, int* code = nullptr) {
        if (m_process->state() != QProcess::NotRunning && !m_process->waitForFinished(timeoutMs)) {
            return false;
        }
        if (code) {
            *code = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
        }
        return true;
    }

    QProcess& process() { return *m_process; }

private:
    std::unique_ptr<QProcess> m_process;
};
