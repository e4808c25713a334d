#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>
#include <memory>

#include "cli/exitcode.h"
#include "cli/fleetcommands.h"
#include "cli/output.h"
#include "io/iocontext.h"
#include "io/iodevicescanner.h"
#include "mediator/uifirmwareupdatemediator.h"
#include "meldraversion.h"
#include "platform/terminationsignals.h"

namespace {

const char kDescription[] =
    R"(Lists, checks, updates and re-pairs the headsets and receivers of this computer, without a window.

Commands:
  list                      every headset and receiver: model, family, serial, mode, firmware, revision
  check [--download]        what the update service offers for each device; fetches nothing unless --download
  update TARGET [--file PATH]
                            flashes the offered image, or the given .dfu file
  repair TARGET             puts the receiver into pairing mode and follows it to the end
TARGET is "receiver", "headset" or a serial number; it must name exactly one device of its kind.

Examples:
  meldra-cli list --json
  meldra-cli check
  meldra-cli update receiver
  meldra-cli update R-0001 --file Sorrel_Dongle_T1.46.0.dfu
  meldra-cli repair receiver

Exit codes:
  0 done, or nothing to do         4 update or repair failed (the final state is named)
  1 command line not understood    5 file refused before anything was written to the device
  2 no such device                 6 network or update service failure
  3 more than one matching device  7 busy: another program is updating or repairing
SIGTERM, SIGINT or SIGHUP end a command at once (128 + the signal) unless an update or repair runs: that
one is finished first.)";

// A fleet tool that gives up on a command (a time-out, Ctrl-C over ssh) sends one of these. Ending in the
// middle of a transfer would leave the device in update mode with half an image, so a running update or
// repair is finished first; otherwise the command ends at once, with the shell's code for the signal.
void endOnTerminationSignals(UIMediator::UIFirmwareUpdateMediator& mediator, Cli::Output& output) {
    Platform::watchTerminationSignals(QCoreApplication::instance(), [&mediator, &output](int signal) {
        if (mediator.isRunning()) {
            output.progress(QStringLiteral("signal %1: finishing the running operation first").arg(signal));
            return;
        }
        QCoreApplication::exit(128 + signal);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("arca"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("arca.example"));
    QCoreApplication::setApplicationName(QStringLiteral("meldra-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3.%4")
                                                .arg(MELDRA_VERSION_MAJOR)
                                                .arg(MELDRA_VERSION_MINOR)
                                                .arg(MELDRA_VERSION_PATCH)
                                                .arg(MELDRA_VERSION_BUILD));

    // The layers' milestones are for the window's support log; here stderr carries progress and failures,
    // and QT_LOGGING_RULES still turns them back on.
    QLoggingCategory::setFilterRules(QStringLiteral("meldra.*.info=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption json_option(QStringLiteral("json"),
                                         QStringLiteral("One JSON document on stdout (format 1)."));
    const QCommandLineOption file_option(
        QStringLiteral("file"), QStringLiteral("update: the .dfu image to flash."), QStringLiteral("PATH"));
    const QCommandLineOption download_option(QStringLiteral("download"),
                                             QStringLiteral("check: also fetch and check what is offered."));
    parser.addOptions({json_option, file_option, download_option});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("list, check, update or repair"));
    parser.addPositionalArgument(QStringLiteral("target"), QStringLiteral("receiver, headset or a serial"),
                                 QStringLiteral("[TARGET]"));
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    const QString command = arguments.value(0);
    Cli::Output output(command, parser.isSet(json_option));
    const bool targeted = command == QLatin1String("update") || command == QLatin1String("repair");
    const bool known = targeted || command == QLatin1String("list") || command == QLatin1String("check");
    if (!known || arguments.size() != (targeted ? 2 : 1) ||
        (parser.isSet(file_option) && command != QLatin1String("update")) ||
        (parser.isSet(download_option) && command != QLatin1String("check"))) {
        output.error(command.isEmpty() || !known
                         ? QStringLiteral("give one of the commands list, check, update, repair (see --help)")
                         : QStringLiteral("%1: wrong arguments (see --help)").arg(command));
        return output.finish(Cli::kUsage);
    }

    // The worker's signals cross threads under these names, as in the window.
    qRegisterMetaType<UIMediator::UIFirmwareUpdateMediator::Status>("Status");
    qRegisterMetaType<UIMediator::UIFirmwareUpdateMediator::DeviceType>("DeviceType");
    const auto context = std::make_shared<Io::IoContext>();
    const auto scanner = std::make_shared<Io::IoDeviceScanner>(context, nullptr);
    UIMediator::UIFirmwareUpdateMediator mediator(context, scanner);
    mediator.setOperationLockKey(UIMediator::UIFirmwareUpdateMediator::defaultOperationLockKey());
    Cli::FleetCommands commands(mediator, output);
    endOnTerminationSignals(mediator, output);
    QObject::connect(&commands, &Cli::FleetCommands::finished, &app,
                     [](int result) { QCoreApplication::exit(result); });
    QTimer::singleShot(0, &commands, [&] {
        if (command == QLatin1String("list"))
            commands.list();
        else if (command == QLatin1String("check"))
            commands.check(parser.isSet(download_option));
        else if (command == QLatin1String("update"))
            commands.update(arguments.at(1), parser.value(file_option));
        else
            commands.repair(arguments.at(1));
    });
    return app.exec();
}
