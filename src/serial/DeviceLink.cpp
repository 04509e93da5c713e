#include "serial/DeviceLink.h"

#include "serial/NetworkLink.h"
#include "serial/TtyLink.h"

namespace qx200 {

std::unique_ptr<DeviceLink> makeLink(const DeviceAddress& address,
                                     const QStringList& lockDirectories)
{
    switch (address.kind) {
    case DeviceAddress::Kind::Path:
        return std::make_unique<TtyLink>(address.path, lockDirectories);
    case DeviceAddress::Kind::Tcp:
        return std::make_unique<NetworkLink>(address.host, address.port, false);
    case DeviceAddress::Kind::Rfc2217:
        return std::make_unique<NetworkLink>(address.host, address.port, true);
    }
    return nullptr;
}

} // namespace qx200
