// The network adapters of this machine as the adapter choice needs them: a name
// that opens the adapter (the "GUID name"), a name for people, an interface type
// and the link speed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Interface types of the adapter query (IANA ifType numbers).
inline constexpr int kIfTypeOther = 1;
inline constexpr int kIfTypeEthernet = 6;
inline constexpr int kIfTypeLoopback = 24;
inline constexpr int kIfTypeWireless = 71;

struct NetworkAdapter {
    std::string guidName;      // the interface name, what the master opens
    std::string friendlyName;  // the interface name too
    int ifType = kIfTypeOther;
    uint64_t transmitLinkSpeed = 0;  // bit/s; 0 when unknown or down
};

// Lists the interfaces under the network class directory (default
// "/sys/class/net") in interface-index order. Ethernet means hardware type 1
// (ARPHRD_ETHER) and not wireless; the speed is the "speed" file in Mbit/s times
// 10^6. Returns false when the directory can't be read.
bool EnumerateNetworkAdapters(std::vector<NetworkAdapter>* adapters);

// Points the enumeration at another directory laid out like /sys/class/net
// (tests give it fake adapters). An empty root restores the default.
void SetNetworkClassRoot(const std::string& root);
