/* Test fixture: the old name json-c 0.11 keeps for its users, <json/json.h> and -ljson. */
#include <json-c/json.h>
