/* The codec's public header compiles on its own, as C. */
#include "zov/zovcod32.h"

int zovPublicHeaderStyleSize(void) { return (int)ZOV_STYLE_FULL_SIZE; }
