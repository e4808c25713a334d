#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QtTest>

#include "mediator/knowndevicetable.h"

using UIMediator::KnownDeviceTable;

namespace {

const QString kRulesFile = QStringLiteral(MELDRA_UDEV_RULES);

// Just enough of udev's rule language to evaluate our file for one event: matches with == and != on
// ACTION, SUBSYSTEM and ATTRS{...} (taken from the device itself here), GOTO and LABEL, and TAG+=.
// Returns the tags the event would get, or an error text for a line it does not understand.
struct Evaluation {
    QStringList tags;
    QString error;
};

Evaluation evaluate(const QStringList& lines, const QHash<QString, QString>& event) {
    static const QRegularExpression pair(
        QStringLiteral("^\\s*([A-Z]+(?:\\{[A-Za-z]+\\})?)\\s*(==|!=|\\+=|=)\\s*\"([^\"]*)\"\\s*$"));
    Evaluation result;
    QString skipTo;
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        bool matched = true;
        QStringList actions;
        for (const QString& piece : line.split(QLatin1Char(','))) {
            const QRegularExpressionMatch m = pair.match(piece);
            if (!m.hasMatch()) {
                result.error = QStringLiteral("cannot read: ") + line;
                return result;
            }
            const QString key = m.captured(1), op = m.captured(2), value = m.captured(3);
            if (key == QLatin1String("LABEL")) {
                if (skipTo == value) {
                    skipTo.clear();
                }
                continue;
            }
            if (op == QLatin1String("==") || op == QLatin1String("!=")) {
                const bool equal = event.value(key) == value;
                matched = matched && (op == QLatin1String("==") ? equal : !equal);
            } else {
                actions << key + op + value;
            }
        }
        if (!skipTo.isEmpty() || !matched) {
            continue;
        }
        for (const QString& action : actions) {
            if (action.startsWith(QLatin1String("GOTO="))) {
                skipTo = action.mid(5);
            } else if (action.startsWith(QLatin1String("TAG+="))) {
                result.tags << action.mid(5);
            } else {
                result.error = QStringLiteral("unexpected action: ") + action;
                return result;
            }
        }
    }
    if (!skipTo.isEmpty()) {
        result.error = QStringLiteral("no label ") + skipTo;
    }
    return result;
}

QStringList ruleLines() {
    QFile file(kRulesFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

QString hex4(quint16 value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

}  // namespace

class TestUdevRules : public QObject {
    Q_OBJECT

private slots:
    void fileName();

    void access_data();
    void access();
};

void TestUdevRules::fileName() {
    const QString name = QFileInfo(kRulesFile).fileName();
    // uaccess is acted upon in 73-seat-late.rules; a tag added after it comes too late.
    QVERIFY2(name < QStringLiteral("73-seat-late.rules"), qPrintable(name));
    QVERIFY(name.endsWith(QLatin1String(".rules")));
    QVERIFY(!ruleLines().isEmpty());
}

void TestUdevRules::access_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("subsystem");
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");
    QTest::addColumn<bool>("granted");

    // Every identity of the program's own table, as udev shows a device's ids: four lower-case digits.
    for (int index = 0; index < KnownDeviceTable::kSize; ++index) {
        const Io::DeviceId id = KnownDeviceTable::knownId(index);
        const QByteArray name =
            "known " + QByteArray::number(index) + " " +
            QStringLiteral("%1:%2").arg(hex4(id.vendorId()), hex4(id.productId())).toLatin1();
        QTest::newRow(name.constData()) << "add"
                                        << "hidraw" << hex4(id.vendorId()) << hex4(id.productId()) << true;
        QTest::newRow((name + " change").constData())
            << "change"
            << "hidraw" << hex4(id.vendorId()) << hex4(id.productId()) << true;
    }
    const Io::DeviceId receiver = KnownDeviceTable::knownId(3);
    QTest::newRow("known, usb node") << "add"
                                     << "usb" << hex4(receiver.vendorId()) << hex4(receiver.productId())
                                     << false;
    QTest::newRow("known, removed") << "remove"
                                    << "hidraw" << hex4(receiver.vendorId()) << hex4(receiver.productId())
                                    << false;
    QTest::newRow("same vendor, other product") << "add"
                                                << "hidraw" << hex4(receiver.vendorId()) << "0a94" << false;
    QTest::newRow("other vendor, same product") << "add"
                                                << "hidraw"
                                                << "1234" << hex4(receiver.productId()) << false;
    QTest::newRow("foreign device") << "add"
                                    << "hidraw"
                                    << "1234"
                                    << "5678" << false;
}

void TestUdevRules::access() {
    QFETCH(QString, action);
    QFETCH(QString, subsystem);
    QFETCH(QString, vendor);
    QFETCH(QString, product);
    QFETCH(bool, granted);

    const QHash<QString, QString> event{{QStringLiteral("ACTION"), action},
                                        {QStringLiteral("SUBSYSTEM"), subsystem},
                                        {QStringLiteral("ATTRS{idVendor}"), vendor},
                                        {QStringLiteral("ATTRS{idProduct}"), product}};
    const Evaluation result = evaluate(ruleLines(), event);
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    QCOMPARE(result.tags.contains(QStringLiteral("uaccess")), granted);
}

QTEST_GUILESS_MAIN(TestUdevRules)
#include "tst_udevrules.moc"
