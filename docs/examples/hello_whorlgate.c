/* hello_whorlgate: a small application of the kit. It enrolls a finger of the user "hello",
   finds the user again by the finger alone, and checks the finger against the template it
   kept. Against the server stand-in, the simulated user presents the right finger by itself.

   Build it against an installed kit:
       cc hello_whorlgate.c $(pkg-config --cflags --libs wgrpc) -o hello_whorlgate
   Loading libwgrpc.so finds (or starts) WGServer before main runs. */
#include <stdio.h>
#include <stdlib.h>
#include <whorlgate.h>

static int Fail(const char* what, WGResult result) {
  char details[WG_RESULT_DETAILS_TEXT_SIZE];
  WhorlgateGetResultDetails(details, NULL);
  fprintf(stderr, "hello_whorlgate: %s (%d): %s\n", what, result, details);
  return 1;
}

int main(void) {
  WGUserRecord user = {WG_USER_RECORD_SIZE, "hello", "Hello World"};
  WGUserRecord found = {WG_USER_RECORD_SIZE, "", ""};
  int16_t templateSize = 0;
  int16_t received = 0;
  uint8_t* record;
  WGResult result;

  /* Without a template buffer, enrollment only asks the server how large a template gets. */
  result = WhorlgateEnroll(NULL, 0, NULL, 0, &templateSize, NULL);
  if (result != WG_OK || templateSize == 0) return Fail("no template size", result);
  printf("template size %d\n", templateSize);
  record = (uint8_t*)malloc((size_t)templateSize);
  if (record == NULL) return 1;

  /* Start afresh on every run; the user may not exist yet. */
  WhorlgateDeleteUser(&user);
  printf("place finger 1 of \"hello\" on the sensor\n");
  fflush(stdout);
  /* The blocking enrollment answers WG_NO_MATCH for a new finger: it matches nobody enrolled. */
  result = WhorlgateEnroll(&user, 1, record, templateSize, &received, NULL);
  if (result != WG_NO_MATCH) return Fail("enrollment failed", result);
  printf("enrolled %s, template %d bytes\n", user.szUserID, received);

  result = WhorlgateIdentify(&found, NULL);
  if (result != WG_MATCH) return Fail("not identified", result);
  printf("identified %s (%s)\n", found.szUserID, found.szDisplayName);

  result = WhorlgateValidateFingers(record, NULL);
  if (result != WG_MATCH) return Fail("the kept template does not match", result);
  printf("the finger matches the kept template\n");
  free(record);
  return 0;
}
