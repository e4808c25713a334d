#include "base/logging.h"

Q_LOGGING_CATEGORY(lcIo, "meldra.io", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDfu, "meldra.dfu", QtInfoMsg)
Q_LOGGING_CATEGORY(lcFirmware, "meldra.firmware", QtInfoMsg)
Q_LOGGING_CATEGORY(lcOnline, "meldra.online", QtInfoMsg)
Q_LOGGING_CATEGORY(lcShell, "meldra.shell", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "meldra.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcInstaller, "meldra.installer", QtInfoMsg)
