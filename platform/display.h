#pragma once

// Returns once the display server has handled everything the program has
// sent it, the last frame's pixels among them: on X11 a round trip on Qt's
// own connection; elsewhere at once.
void waitForDisplay();
