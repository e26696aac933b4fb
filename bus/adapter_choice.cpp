#include "bus/adapter_choice.hpp"

#include <cstring>
#include <vector>

#include "platform/adapters.hpp"

std::atomic<int32_t> g_lanScanState{0};
std::atomic<int32_t> g_adapterCount{0};
char g_adapterNames[kMaxListedAdapters][kAdapterEntryBytes];
char g_adapterGuids[kMaxListedAdapters][kAdapterEntryBytes];

namespace {

bool FitsEntry(const std::string& name) {
    return name.size() < kAdapterEntryBytes;
}

void CopyEntry(char (&entry)[kAdapterEntryBytes], const std::string& name) {
    std::memcpy(entry, name.c_str(), name.size() + 1);
}

}  // namespace

int ListEthernetAdapters() {
    std::vector<NetworkAdapter> adapters;
    if (!EnumerateNetworkAdapters(&adapters)) return -1;
    int count = 0;
    for (const NetworkAdapter& adapter : adapters) {
        if (count == kMaxListedAdapters) break;
        if (!FitsEntry(adapter.friendlyName)) return -3;
        if (adapter.ifType != kIfTypeEthernet || adapter.transmitLinkSpeed < kMinListedLinkSpeed) {
            continue;
        }
        // A GUID name that does not fit its entry could not open the adapter: skip it.
        if (!FitsEntry(adapter.guidName)) continue;
        CopyEntry(g_adapterNames[count], adapter.friendlyName);
        CopyEntry(g_adapterGuids[count], adapter.guidName);
        ++count;
    }
    g_adapterCount = count;
    g_lanScanState = 2;
    return 0;
}

int PickFirstEthernetAdapter(char* guid, size_t guidSize) {
    std::vector<NetworkAdapter> adapters;
    if (!EnumerateNetworkAdapters(&adapters)) return -1;
    for (const NetworkAdapter& adapter : adapters) {
        if (adapter.ifType != kIfTypeEthernet) continue;
        if (guidSize == 0) return 1;
        const size_t n =
            adapter.guidName.size() < guidSize ? adapter.guidName.size() : guidSize - 1;
        std::memcpy(guid, adapter.guidName.data(), n);
        guid[n] = '\0';
        return 1;
    }
    return 0;
}

void ResetAdapterChoice() {
    g_lanScanState = 0;
    g_adapterCount = 0;
    std::memset(g_adapterNames, 0, sizeof g_adapterNames);
    std::memset(g_adapterGuids, 0, sizeof g_adapterGuids);
}
