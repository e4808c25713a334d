#pragma once

// QML types and metatypes of the deliverable; runs first in main, before the application object exists.
void registerTypes();
