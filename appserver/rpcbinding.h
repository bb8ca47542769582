#pragma once
// Publishes the methods of GuiaService on an RpcServer: each call runs on the worker thread's
// own database connection.
#include "database.h"
#include "net/rpcserver.h"

namespace fis {

// Registers the twelve methods under kServerObject.
void registerGuiaMethods(RpcServer &server, const DbConfig &config);

} // namespace fis
