/* Test fixture: json-c 0.9, installed as <json/json.h> and linked as -ljson. */
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
