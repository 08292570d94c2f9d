#ifndef VELOXD_RPC_H
#define VELOXD_RPC_H

/* Connect to the bus, publish "veloxd" and serve until the loop ends. */
void rpc_run(void);

#endif
