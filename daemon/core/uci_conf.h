#ifndef VELOXD_UCI_CONF_H
#define VELOXD_UCI_CONF_H

/* Values handed back by uci_get_conf always fit, terminated, in this many bytes. */
#define UCI_VALUE_SIZE 64

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Read one option named "package.section.option" into value (at least
 * UCI_VALUE_SIZE bytes). flag 1 reads the run-time state store under
 * /var/state instead of the default one. Returns 0, or -1 after logging one
 * error line; value is written only on success.
 */
int uci_get_conf(const char *key, char *value, int flag);

/* Set, save and commit one option. Returns 0, or -1 after one error line. */
int uci_set_conf(const char *key, const char *value, int flag);

#ifdef __cplusplus
}
#endif

#endif
