// vellupix-decoder: decodes the pictures the viewer hands it, in a process
// of its own that confines itself before it reads any; see decoder.cpp.

#include "decoder/decoder.h"

int main(int argc, char **argv)
{
    return decoder::run(argc, argv);
}
