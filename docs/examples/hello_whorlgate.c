/* hello_whorlgate: the smallest application of the kit.

   Build it against an installed kit:
       cc hello_whorlgate.c $(pkg-config --cflags --libs wgrpc) -o hello_whorlgate
   Loading libwgrpc.so finds (or starts) WGServer before main runs. */
#include <stdio.h>
#include <whorlgate.h>

int main(void) {
  int16_t templateSize = 0;
  char details[WG_RESULT_DETAILS_TEXT_SIZE];

  /* Without a template buffer, enrollment only asks the server how large a template gets. */
  if (WhorlgateEnroll(NULL, 0, NULL, 0, &templateSize, NULL) != WG_OK || templateSize == 0) {
    WGResult code = WhorlgateGetResultDetails(details, NULL);
    fprintf(stderr, "hello_whorlgate: no template size (%d): %s\n", code, details);
    return 1;
  }
  printf("template size %d\n", templateSize);
  printf("reference record %u bytes, small record %u bytes, image buffer %u bytes\n",
         (unsigned)WGGetReferenceTemplateSize(), (unsigned)WGGetSmallReferenceTemplateSize(),
         (unsigned)WGGetImageBufferSize());
  return 0;
}
