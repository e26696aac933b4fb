#include "platform/adapters.hpp"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace fs = std::filesystem;

namespace {

constexpr int kArphrdEther = 1;
constexpr int kArphrdLoopback = 772;
constexpr char kDefaultRoot[] = "/sys/class/net";

std::mutex rootMutex;
std::string sysfsRoot = kDefaultRoot;

std::string Root() {
    std::lock_guard lock(rootMutex);
    return sysfsRoot;
}

// The first integer of a small attribute file; false when it can't be read (an
// interface that is down reports no speed).
bool ReadNumber(const fs::path& file, long long* value) {
    std::ifstream in(file);
    return static_cast<bool>(in >> *value);
}

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

int InterfaceType(const fs::path& dir) {
    long long hardwareType = 0;
    if (!ReadNumber(dir / "type", &hardwareType)) return kIfTypeOther;
    if (hardwareType == kArphrdLoopback) return kIfTypeLoopback;
    if (hardwareType != kArphrdEther) return kIfTypeOther;
    if (Exists(dir / "wireless") || Exists(dir / "phy80211")) return kIfTypeWireless;
    return kIfTypeEthernet;
}

uint64_t LinkSpeed(const fs::path& dir) {
    long long megabits = 0;
    if (!ReadNumber(dir / "speed", &megabits) || megabits <= 0) return 0;
    return static_cast<uint64_t>(megabits) * 1000000u;
}

}  // namespace

void SetNetworkClassRoot(const std::string& root) {
    std::lock_guard lock(rootMutex);
    sysfsRoot = root.empty() ? kDefaultRoot : root;
}

bool EnumerateNetworkAdapters(std::vector<NetworkAdapter>* adapters) {
    adapters->clear();
    std::error_code error;
    fs::directory_iterator entries(Root(), error);
    if (error) return false;
    struct Found {
        long long index;
        NetworkAdapter adapter;
    };
    std::vector<Found> found;
    for (const fs::directory_entry& entry : entries) {
        if (!entry.is_directory(error)) continue;
        const fs::path dir = entry.path();
        long long index = LLONG_MAX;
        ReadNumber(dir / "ifindex", &index);
        NetworkAdapter adapter;
        adapter.guidName = dir.filename().string();
        adapter.friendlyName = adapter.guidName;
        adapter.ifType = InterfaceType(dir);
        adapter.transmitLinkSpeed = LinkSpeed(dir);
        found.push_back({index, std::move(adapter)});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.index != b.index ? a.index < b.index : a.adapter.guidName < b.adapter.guidName;
    });
    for (Found& f : found) adapters->push_back(std::move(f.adapter));
    return true;
}
