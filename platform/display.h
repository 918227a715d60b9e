#pragma once

struct xcb_connection_t;

// Qt's own connection to the X server, or null where the program does not
// run on X11.
xcb_connection_t *x11Connection();

// Returns once the display server has handled everything the program has
// sent it, the last frame's pixels among them: on X11 a round trip on Qt's
// own connection; elsewhere at once.
void waitForDisplay();
