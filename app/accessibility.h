#pragma once

// Screen readers see Qt Quick items through Qt's own accessible interface, with two additions that Qt
// Quick 5.15 does not make: a disabled item reads as disabled and offers no action, and an item whose
// `accessibleHeading` property is true reads as a heading (a role set from QML is reset by Qt's controls
// whenever a reader starts). Installed once, before the first QML engine.
void installAccessibility();
