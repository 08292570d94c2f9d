/* Build-time switches for uci.h. Define UCI_DEBUG_TYPECAST to get checked
 * element casts. Nothing is defined by default. */
#ifndef UCI_CONFIG_H
#define UCI_CONFIG_H
#endif
