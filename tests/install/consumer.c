/* An application's view of the installed kit: the umbrella header and the library. */
#include <whorlgate.h>

int main(void) {
  WGResult result = WG_OK;
  return result == WG_OK && WGERR_SERVER_NOT_RESPONDING == 530 ? 0 : 1;
}
