#ifndef VELOXD_RPC_H
#define VELOXD_RPC_H

#ifdef __cplusplus
extern "C" {
#endif

/* Connect to the bus, publish "veloxd" and serve until the loop ends. */
void rpc_run(void);

#ifdef __cplusplus
}
#endif

#endif
