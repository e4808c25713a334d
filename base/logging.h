#pragma once

#include <QLoggingCategory>

// One category per layer, so that a field report can be narrowed with QT_LOGGING_RULES
// ("meldra.dfu.debug=true"). Failures are warnings with their reason, milestones are info, and the
// per-report traffic is debug, which is off unless a rule turns it on.
Q_DECLARE_LOGGING_CATEGORY(lcIo)
Q_DECLARE_LOGGING_CATEGORY(lcDfu)
Q_DECLARE_LOGGING_CATEGORY(lcFirmware)
Q_DECLARE_LOGGING_CATEGORY(lcOnline)
Q_DECLARE_LOGGING_CATEGORY(lcShell)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcInstaller)
