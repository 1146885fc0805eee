/* The codec's public headers compile on their own, as C. */
#include "zov/zovcod32.h"
#include "zov/zovvfw.h"

int zovPublicHeaderStyleSize(void) {
  return (int)ZOV_STYLE_FULL_SIZE;
}
int zovVfwHeaderRecordSize(void) {
  return (int)(sizeof(ICDECOMPRESS) + ICERR_OK + (int)ICM_DECOMPRESS);
}
