// ec_init, ec_close and the adapter list.
#include <net/if.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "ethercat.h"
#include "port.hpp"

namespace {
std::mutex& lifecycleMutex() {
    static std::mutex m;
    return m;
}
}  // namespace

extern "C" {

int ec_init(const char* ifname) {
    if (ifname == nullptr) return 0;
    std::string_view name(ifname);
    constexpr std::string_view npf = "\\Device\\NPF_";
    if (name.substr(0, npf.size()) == npf) name.remove_prefix(npf.size());
    std::lock_guard lk(lifecycleMutex());
    ecmaster::detail::closePort();
    return ecmaster::detail::openPort(std::string(name)) ? 1 : 0;
}

void ec_close(void) {
    std::lock_guard lk(lifecycleMutex());
    ecmaster::detail::closePort();
}

ec_adaptert* ec_find_adapters(void) {
    struct if_nameindex* ids = if_nameindex();
    if (ids == nullptr) return nullptr;
    ec_adaptert* head = nullptr;
    ec_adaptert* tail = nullptr;
    for (struct if_nameindex* i = ids; i->if_index != 0 && i->if_name != nullptr; ++i) {
        auto* a = static_cast<ec_adaptert*>(std::calloc(1, sizeof(ec_adaptert)));
        if (a == nullptr) break;
        std::strncpy(a->name, i->if_name, sizeof a->name - 1);
        std::strncpy(a->desc, i->if_name, sizeof a->desc - 1);
        if (tail != nullptr)
            tail->next = a;
        else
            head = a;
        tail = a;
    }
    if_freenameindex(ids);
    return head;
}

void ec_free_adapters(ec_adaptert* adapter) {
    while (adapter != nullptr) {
        ec_adaptert* next = adapter->next;
        std::free(adapter);
        adapter = next;
    }
}

}  // extern "C"
