/* Test fixture: json-c 0.11 under its new name, <json-c/json.h> and -ljson-c. */
#ifndef FIXTURE_JSON_H
#define FIXTURE_JSON_H

#ifdef __cplusplus
extern "C" {
#endif

#include "bits.h"
#include "json_object.h"

#ifdef __cplusplus
}
#endif

#endif
