#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QtTest>
#include <cstring>

#include "sim/hidsim.h"
#include "tests/sim/simtestutil.h"

using namespace SimTest;
using HidSim::DeviceType;
using HidSim::Mode;

// Scenario files, the environment variables and live control from other processes.
class TstHidSimScenario : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString writeFile(const QString& name, const QByteArray& content) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(content);
        return path;
    }

    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        Run result;
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }
    Run ctl(const QStringList& arguments) {
        return run(HIDSIMCTL_PATH, QStringList{"--socket", m_dir.filePath("ctl.sock")} + arguments,
                   QProcessEnvironment::systemEnvironment());
    }
    static QJsonObject json(const QByteArray& out) { return QJsonDocument::fromJson(out).object(); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init() {
        HidSim::reset();
        HidSim::setTimings(fastTimings());
    }

    void goodScenario() {
        QString error;
        QVERIFY2(HidSim::loadScenario(R"({ "devices": [
              { "type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0", "mode": "normal" },
              { "type": "SorrelHeadset",  "serial": "H-0001", "firmware": "1.44.0", "revision": 3 },
              { "type": "SorrelPlusReceiver", "serial": "P-1", "mode": "update",
                "repair": { "outcome": "0x20", "after": 4 }, "faults": { "writeFails": true } },
              { "vendorId": "0x1234", "productId": "0x5678", "usagePage": "0x1", "usage": "0x6", "serial": "KB1",
                "outputReportSize": 9, "link": { "ackLatencyMs": 30, "ackJitterMs": 5, "unsolicitedEveryMs": 100,
                                                 "unsolicitedReport": "0x0701", "strictSizes": false } },
              { "vendorId": 0, "productId": 2704, "usagePage": 65440, "usage": 1 }
            ], "timing": { "reenumerateMs": 20, "replyDelayMs": 5, "updateReportIntervalUs": 0 } })",
                                      &error),
                 qPrintable(error));
        QVERIFY(error.isEmpty());
        const QVector<HidSim::DeviceState> devices = HidSim::devices();
        QCOMPARE(devices.size(), 5);
        QCOMPARE(devices[0].type, DeviceType::SorrelReceiver);
        QCOMPARE(devices[0].interfaces.size(), 2);
        QCOMPARE(devices[1].revision, 3);
        QCOMPARE(devices[2].mode, Mode::Update);
        QCOMPARE(devices[2].interfaces[0].productId, quint16(0x0aa9));
        QCOMPARE(devices[3].interfaces[0].usage, quint16(6));
        QCOMPARE(devices[3].interfaces[0].outputReportSize, 9);
        QCOMPARE(devices[3].link.ackLatencyMs, 30);
        QCOMPARE(devices[3].link.ackJitterMs, 5);
        QCOMPARE(devices[3].link.unsolicitedEveryMs, 100);
        QCOMPARE(devices[3].link.unsolicitedReport, bytes({0x07, 0x01}));
        QVERIFY(!devices[3].link.strictSizes);
        QVERIFY(devices[0].link.strictSizes);
        QCOMPARE(devices[0].interfaces[0].outputReportSize, 8);
        QVERIFY(devices[4].serial.isNull());
        QCOMPARE(devices[4].interfaces[0].vendorId, quint16(0));
        QCOMPARE(devices[4].interfaces[0].productId, quint16(0x0a90));
        QCOMPARE(HidSim::timings().reenumerateMs, 20);
        QCOMPARE(HidSim::timings().replyDelayMs, 5);
        QCOMPARE(HidSim::timings().resetMs, HidSim::Timings().resetMs);
        QCOMPARE(enumerateAll().size(), 6);
    }

    void badScenario_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message");
        QTest::newRow("not json") << QByteArray("{ \"devices\": [ }") << "invalid JSON at line 1, column";
        QTest::newRow("error on a later line")
            << QByteArray("{\n\"devices\": [\n{ \"type\": }\n] }") << "invalid JSON at line 3";
        QTest::newRow("empty file") << QByteArray() << "invalid JSON";
        QTest::newRow("array at the top") << QByteArray("[]") << "expected an object with a 'devices' array";
        QTest::newRow("no devices") << QByteArray("{}") << "missing the 'devices' array";
        QTest::newRow("devices not an array")
            << QByteArray(R"({"devices": {}})") << "devices: expected an array";
        QTest::newRow("device not an object")
            << QByteArray(R"({"devices": [3]})") << "devices[0]: expected an object, got a number";
        QTest::newRow("unknown type") << QByteArray(R"({"devices": [{"type": "Toaster"}]})")
                                      << "devices[0].type: unknown device type 'Toaster'";
        QTest::newRow("type not a string") << QByteArray(R"({"devices": [{"type": 2}]})")
                                           << "devices[0].type: expected a string, got a number";
        QTest::newRow("firmware a number")
            << QByteArray(
                   R"({"devices": [{"type": "SorrelHeadset"}, {"type": "SorrelHeadset", "firmware": 1.2}]})")
            << "devices[1].firmware: expected a string, got a number";
        QTest::newRow("firmware not a version")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "firmware": "one"}]})")
            << "devices[0].firmware: 'one': expected a version text";
        QTest::newRow("firmware beyond bcd")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "firmware": "1.100.0"}]})")
            << "one BCD byte";
        QTest::newRow("firmware with a patch")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "firmware": "1.45.2"}]})")
            << "patch number must be 0";
        QTest::newRow("revision out of range")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "revision": 256}]})")
            << "devices[0].revision: 256 is out of range 0 to 255";
        QTest::newRow("revision fractional")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "revision": 2.5}]})")
            << "not a whole number";
        QTest::newRow("mode unknown")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "mode": "dfu"}]})")
            << "devices[0].mode: expected \"normal\" or \"update\"";
        QTest::newRow("serial a number")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "serial": 7}]})")
            << "devices[0].serial: expected a string or null";
        QTest::newRow("raw without product")
            << QByteArray(R"({"devices": [{"vendorId": "0x1234"}]})") << "needs a 'type' or the raw ids";
        QTest::newRow("raw id too large")
            << QByteArray(R"({"devices": [{"vendorId": "0x12345", "productId": 1}]})")
            << "devices[0].vendorId: 74565 is out of range";
        QTest::newRow("raw id not hex")
            << QByteArray(R"({"devices": [{"vendorId": "0xzz", "productId": 1}]})")
            << "devices[0].vendorId: '0xzz' is not a whole number";
        QTest::newRow("repair outcome other byte")
            << QByteArray(R"({"devices": [{"type": "SorrelReceiver", "repair": {"outcome": "0x41"}}]})")
            << "devices[0].repair.outcome: expected \"0x40\", \"0x08\", \"0x20\" or \"never\"";
        QTest::newRow("faults flag not bool")
            << QByteArray(R"({"devices": [{"type": "SorrelReceiver", "faults": {"openFails": "yes"}}]})")
            << "devices[0].faults.openFails: expected true or false, got a string";
        QTest::newRow("link report not hex")
            << QByteArray(
                   R"({"devices": [{"type": "SorrelReceiver", "link": {"unsolicitedReport": "0x7g"}}]})")
            << "devices[0].link.unsolicitedReport: expected the report's bytes in hexadecimal";
        QTest::newRow("link latency negative")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "link": {"ackLatencyMs": -5}}]})")
            << "devices[0].link.ackLatencyMs: -5 is out of range";
        QTest::newRow("timing negative") << QByteArray(R"({"devices": [], "timing": {"reenumerateMs": -1}})")
                                         << "timing.reenumerateMs: -1 is out of range";
    }
    void badScenario() {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        HidSim::plug(setup(DeviceType::SorrelHeadset, "before"));
        QString error;
        QVERIFY(!HidSim::loadScenario(json, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY(HidSim::devices().isEmpty());  // the bus starts empty, nothing half-loaded
        QVERIFY(enumerateAll().isEmpty());
    }

    // Mutations of a valid file: each is either a whole scenario or a refusal with a reason, never a crash
    // and never half a bus.
    void mutatedScenarios() {
        const QByteArray valid =
            R"({"devices": [{"type": "SorrelReceiver", "serial": "R", "firmware": "1.45.0",
            "repair": {"outcome": "0x20", "after": 2}, "faults": {"readTimeout": true}},
            {"vendorId": "0x1234", "productId": 7, "usagePage": "0x1", "usage": "0x6"}],
            "timing": {"reenumerateMs": 10}})";
        QRandomGenerator random(1234);
        int accepted = 0;
        for (int i = 0; i < 3000; ++i) {
            QByteArray json = valid;
            const int edits = 1 + int(random.bounded(4));
            for (int e = 0; e < edits; ++e) {
                const int at = int(random.bounded(json.size()));
                switch (random.bounded(3)) {
                    case 0:
                        json[at] = char(random.bounded(256));
                        break;
                    case 1:
                        json.remove(at, 1 + int(random.bounded(8)));
                        break;
                    default:
                        json.insert(at, "\"\x00{[:,0x}]-9.");
                        break;
                }
            }
            QString error;
            if (HidSim::loadScenario(json, &error)) {
                ++accepted;
                QVERIFY(error.isEmpty());
            } else {
                QVERIFY(!error.isEmpty());
                QVERIFY(HidSim::devices().isEmpty());
            }
        }
        QVERIFY(accepted < 3000);
    }

    void unknownKeysOnlyWarn() {
        QString error;
        QVERIFY(HidSim::loadScenario(
            R"({"devices": [{"type": "SorrelHeadset", "colour": "red"}], "extra": 1})", &error));
        QCOMPARE(HidSim::devices().size(), 1);
    }

    void scenarioFileNamedInError() {
        const QString path = writeFile("broken.json", "{ \"devices\": [ { \"type\": \"Toaster\" } ] }");
        QString error;
        QVERIFY(!HidSim::loadScenarioFile(path, &error));
        QVERIFY2(error.contains(path) && error.contains("Toaster"), qPrintable(error));
        QVERIFY(!HidSim::loadScenarioFile(m_dir.filePath("missing.json"), &error));
        QVERIFY2(error.contains("missing.json") && error.contains("cannot be read"), qPrintable(error));
    }

    // The variable as the preloaded program sees it, in a process of its own.
    void environment_data() {
        QTest::addColumn<QByteArray>("content");  // empty: variable unset
        QTest::addColumn<QStringList>("stderrHas");
        QTest::addColumn<int>("interfaces");
        QTest::newRow("unset gives the default pair") << QByteArray() << QStringList() << 3;
        QTest::newRow("empty device list") << QByteArray(R"({"devices": []})") << QStringList() << 0;
        QTest::newRow("one keyboard")
            << QByteArray(
                   R"({"devices": [{"vendorId": "0x1234", "productId": "0x5678", "usagePage": "0x1", "usage": "0x6", "serial": "KB1"}]})")
            << QStringList() << 1;
        QTest::newRow("bad json") << QByteArray("{ devices ") << QStringList{"scenario.json", "invalid JSON"}
                                  << 0;
        QTest::newRow("wrong type") << QByteArray(
                                           R"({"devices": [{"type": "SorrelHeadset", "revision": "x"}]})")
                                    << QStringList{"scenario.json", "devices[0].revision"} << 0;
        QTest::newRow("unknown key warned")
            << QByteArray(R"({"devices": [{"type": "SorrelHeadset", "serail": "x"}]})")
            << QStringList{"scenario.json", "unknown key 'serail'"} << 1;
    }
    void environment() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, stderrHas);
        QFETCH(int, interfaces);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("HIDSIM_CONTROL");
        environment.remove("HIDSIM_SCENARIO");
        if (!content.isEmpty())
            environment.insert("HIDSIM_SCENARIO", writeFile("scenario.json", content));
        const Run result = run(HIDSIMPROBE_PATH, {}, environment);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains(QString("count %1\n").arg(interfaces).toUtf8()), result.out.constData());
        for (const QString& part : stderrHas)
            QVERIFY2(result.err.contains(part.toUtf8()), result.err.constData());
        if (stderrHas.isEmpty())
            QVERIFY2(result.err.isEmpty(), result.err.constData());
        if (content.isEmpty()) {
            QVERIFY(result.out.contains(" 046d 0a90 ffa0 0001 R-0001\n"));
            QVERIFY(result.out.contains(" 046d 0a90 ffa1 0001 R-0001\n"));
            QVERIFY(result.out.contains(" 046d 0a91 ffc0 0001 H-0001\n"));
        }
    }

    void controlByHidsimctl() {
        QString error;
        QVERIFY2(HidSim::startControl(m_dir.filePath("ctl.sock"), &error), qPrintable(error));

        Run r = ctl(
            {"plug", R"({"type": "SorrelHeadset", "serial": "H-5", "firmware": "1.44.0", "revision": 2})"});
        QCOMPARE(r.exitCode, 0);
        const int id = json(r.out).value("id").toInt();
        QVERIFY(id > 0);
        QCOMPARE(pathOf("H-5", 0xffc0).isEmpty(), false);

        r = ctl({"set", "H-5", "firmware=1.46.0", "revision=7"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(HidSim::device(id).firmware, QString("1.46.0"));
        QCOMPARE(HidSim::device(id).revision, 7);

        r = ctl({"fault", "H-5", "writeFails"});
        QCOMPARE(r.exitCode, 0);
        {
            Handle handle = open("H-5", 0xffc0);
            QCOMPARE(write(handle.get(), bytes({0, 1, 0})), -1);
        }
        QCOMPARE(ctl({"fault", "H-5"}).exitCode, 0);
        {
            Handle handle = open("H-5", 0xffc0);
            QCOMPARE(write(handle.get(), bytes({0, 1, 0})), 3);
        }

        r = ctl({"traffic", "serial=H-5", "kind=write"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(json(r.out).value("count").toInt(), 2);

        r = ctl({"list"});
        QCOMPARE(json(r.out).value("devices").toArray().size(), 1);

        r = ctl({"set", "H-5", "mode=update"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(enumerateAll()[0].productId, quint16(0x0a93));

        // A link change keeps what it does not name.
        QCOMPARE(ctl({"link", "H-5", "ackLatencyMs=40", "unsolicitedEveryMs=25"}).exitCode, 0);
        QCOMPARE(ctl({"link", "H-5", "strictSizes=false"}).exitCode, 0);
        QCOMPARE(HidSim::device(id).link.ackLatencyMs, 40);
        QCOMPARE(HidSim::device(id).link.unsolicitedEveryMs, 25);
        QVERIFY(!HidSim::device(id).link.strictSizes);
        QCOMPARE(ctl({"link", "H-5", "ackJitterMs=-1"}).exitCode, 1);

        QCOMPARE(ctl({"timing", "reenumerateMs=77"}).exitCode, 0);
        QCOMPARE(HidSim::timings().reenumerateMs, 77);

        r = ctl({"unplug", "H-5"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(enumerateAll().isEmpty());

        const QString scenario =
            writeFile("live.json", R"({"devices": [{"type": "SorrelReceiver", "serial": "L"}]})");
        QCOMPARE(ctl({"load", scenario}).exitCode, 0);
        QCOMPARE(enumerateAll().size(), 2);

        // Refusals: a clear answer and exit status 1, the bus untouched.
        const QList<QStringList> refused = {{"unplug", "nobody"},
                                            {"plug", R"({"type": "Toaster"})"},
                                            {"set", "L", "firmware=banana"},
                                            {"set", "id=999", "revision=1"},
                                            {"send", R"({"cmd": "dance"})"},
                                            {"load", m_dir.filePath("missing.json")}};
        for (const QStringList& arguments : refused) {
            r = ctl(arguments);
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(!json(r.out).value("error").toString().isEmpty(), r.out.constData());
        }
        QCOMPARE(enumerateAll().size(), 2);  // still the loaded receiver

        QVERIFY(HidSim::startControl(QString()));
        QVERIFY(waitFor([this] { return !QFile::exists(m_dir.filePath("ctl.sock")); }, 2000));
        QCOMPARE(ctl({"list"}).exitCode, 2);
    }

    // A malformed line gets an answer and leaves the connection usable.
    void controlSocketSurvivesGarbage() {
        QVERIFY(HidSim::startControl(m_dir.filePath("ctl.sock")));
        QLocalSocket socket;
        socket.connectToServer(m_dir.filePath("ctl.sock"));
        QVERIFY(socket.waitForConnected(2000));
        socket.write(QByteArray("\x00\xff not json\n", 13) + "[1,2]\n" + R"({"cmd":"list"})" + "\n");
        QByteArray answers;
        QVERIFY(waitFor([&] {
            socket.waitForReadyRead(50);
            answers += socket.readAll();
            return answers.count('\n') >= 3;
        }));
        const QList<QByteArray> lines = answers.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(json(lines[0]).value("ok").toBool(), false);
        QCOMPARE(json(lines[1]).value("ok").toBool(), false);
        QCOMPARE(json(lines[2]).value("ok").toBool(), true);
        QVERIFY(HidSim::startControl(QString()));
    }

    // The variable as the preloaded program gets it: another process changes the bus while it runs.
    void controlFromEnvironment() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString socket = m_dir.filePath("env.sock");
        environment.insert("HIDSIM_CONTROL", socket);
        environment.insert("HIDSIM_SCENARIO", writeFile("none.json", R"({"devices": []})"));
        QProcess probe;
        probe.setProcessEnvironment(environment);
        probe.start(HIDSIMPROBE_PATH, {"--wait-count", "2"});
        QVERIFY(probe.waitForStarted());
        QVERIFY(waitFor([&] { return QFile::exists(socket); }));
        const Run r = run(HIDSIMCTL_PATH,
                          {"--socket", socket, "plug", R"({"type": "SorrelPlusReceiver", "serial": "Z"})"},
                          QProcessEnvironment::systemEnvironment());
        QCOMPARE(r.exitCode, 0);
        QVERIFY(probe.waitForFinished(15000));
        const QByteArray out = probe.readAllStandardOutput();
        QVERIFY2(out.contains("count 2\n") && out.contains(" 046d 0aa8 ffa1 0001 Z\n"), out.constData());
        QVERIFY(!QFile::exists(socket));  // removed when the process ends
    }

    // A second listener on the path (a child of the preloaded program inherits the variable) is refused
    // while the first lives; a socket file left by a dead process is taken over.
    void socketOwnership() {
        const QString socket = m_dir.filePath("own.sock");
        QVERIFY(HidSim::startControl(socket));
        QString error;
        QVERIFY(!HidSim::startControl(socket, &error));
        QVERIFY2(error.contains("in use by another process"), qPrintable(error));
        QCOMPARE(run(HIDSIMCTL_PATH, {"--socket", socket, "list"}, QProcessEnvironment::systemEnvironment())
                     .exitCode,
                 0);
        QVERIFY(HidSim::startControl(QString()));

        const QString stale = m_dir.filePath("stale.sock");
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(stale).constData(), sizeof(address.sun_path) - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
        QVERIFY(QFile::exists(stale));
        QVERIFY2(HidSim::startControl(stale, &error), qPrintable(error));
        QCOMPARE(run(HIDSIMCTL_PATH, {"--socket", stale, "list"}, QProcessEnvironment::systemEnvironment())
                     .exitCode,
                 0);
        QVERIFY(HidSim::startControl(QString()));
    }
};

QTEST_GUILESS_MAIN(TstHidSimScenario)
#include "tst_hidsimscenario.moc"
