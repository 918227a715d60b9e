#pragma once

namespace decoder {

// Serves the viewer's requests on descriptor 3 until the viewer closes it;
// returns only when it was not started by the viewer. Takes the decoding
// program's arguments (--address-space=, --display-profile=).
int run(int argc, char **argv);

} // namespace decoder
