// Recovery over the control tests' switch, with a port on a board that is
// out (temporary), one on a board without PBB and a loopback; the
// databases are closed and opened again before recovery reads them.
#pragma once

#include "unit/ctl/ctl_test.h"

namespace recovertest {

using ctltest::Uc;
using ctltest::UcSet;
using Names = std::vector<std::string>;
using Ifs = std::vector<uint32_t>;
using ctltest::cfgNames;
using ctltest::runVsis;
using ctltest::uplinks;

inline bool hasKey(uint32_t hDb, const std::string& key)
{
    return DBM_IsKeyExist(hDb, key.c_str(), static_cast<uint32_t>(key.size() + 1)) == 1;
}
inline std::set<std::string> keysOf(uint32_t hDb, uint32_t type)
{
    auto v = ctltest::keysOfType(hDb, type);
    return {v.begin(), v.end()};
}

class RecoverBase : public ctltest::Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        sw->addSlot(3, {.present = false, .minm = true});
        sw->addPort("eth-3/0/1", 3);
        sw->addPort("eth-2/0/1", 2);
        sw->addPort("lo-1", 1, {.type = IF_TYPE_LOOPBACK});
    }
    static void reopen()
    {
        PBB_dbmrecover_Exit();
        ASSERT_EQ(PBB_dbmrecover_Init(), PBB_OK);
    }
    std::string nameOf(uint32_t ifIndex) const { return sw->interfaces().at(ifIndex).name; }
    // Saved only, as a previous run of the daemon left it.
    static void saveUc(const Uc& e)
    {
        auto [vsi, vlan, last, ifIndex] = e;
        const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0, last};
        PBB_dbmsave_AddUcPw(vsi, 1000 + vsi, vlan, mac, ifIndex);
    }
};

}  // namespace recovertest
