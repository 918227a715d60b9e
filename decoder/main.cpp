// vellupix-decoder: decodes the pictures the viewer hands it, in a process
// of its own that confines itself before it reads any; see decoder.cpp.

#include "decoder/decoder.h"

#if defined(__SANITIZE_ADDRESS__)
// Built with AddressSanitizer, a crash stays a crash for the viewer to
// report, instead of becoming an exit code after a report it cannot write.
// Here, not beside the decoder's work: the viewer links that too.
extern "C" const char *__asan_default_options()
{
    return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_abort=0";
}
#endif

int main(int argc, char **argv)
{
    return decoder::run(argc, argv);
}
