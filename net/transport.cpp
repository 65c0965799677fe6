#include "net/transport.h"

#include "config/settings.h"
#include "net/direct_transport.h"
#include "net/system_exchange.h"

std::unique_ptr<Transport> MakeTransport(const Settings& settings) {
    if (settings.usereg) return std::make_unique<SystemTransport>();
    return std::make_unique<DirectTransport>(settings.proxy);
}
