// The entry of the window library that zovcomp loads to open its window.
#include "compressor/gui/compressor_application.h"

extern "C" __attribute__((visibility("default"))) int zovcompRunWindow(int argc, char** argv) {
  return zov::runCompressorApplication(argc, argv);
}
