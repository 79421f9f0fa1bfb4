#include "transport/UdpEndpointOperations.h"

#include "common/Numbers.h"
#include "transport/SocketEndpoint.h"

#include <algorithm>
#include <cstdint>

void PrepareUdpEndpoint(SocketEndpoint &UDP1, const std::string &portText, const std::string &targetAddress)
{
    UDP1.Close();
    UDP1.SetProtocol(SocketEndpoint::UdpProtocol);
    const std::int64_t port = RoundHalfEven(ReadNumber(portText));
    UDP1.SetRemotePort(static_cast<std::int32_t>(std::clamp<std::int64_t>(port, 0, 65535)));
    UDP1.SetRemoteHost(targetAddress);
}

void CloseUdpEndpoint(SocketEndpoint &UDP1)
{
    UDP1.Close();
}
