#pragma once

// The main program's pages without its services, for the page tests and the screenshot tool: the theme
// singleton, the firmware mediator's enums (FirmwareEnums) and the program's fonts. Call once, after the
// application object exists and before the first QML is loaded.
void preparePageStage();
