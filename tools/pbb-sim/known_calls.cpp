#include "tools/pbb-sim/known_calls.h"

#include <algorithm>

namespace pbbsim {

const std::vector<std::string_view>& knownCalls()
{
    static const std::vector<std::string_view> names = {
        "DEV_GetDeviceStatus", "DEV_GetPhysicalSlotByGlobalSlot", "DEV_GetSlotRange",
        "IF_CreatePDInstance", "IF_DelPrivateData", "IF_DestroyPDInstance", "IF_Event_Fini", "IF_Event_Init",
        "IF_GetDataByIfIndex", "IF_GetFirstPrivateData", "IF_GetIfIndexByFullName", "IF_GetNextPrivateData",
        "IF_GetPrivateData", "IF_IsTempIf", "IF_NotifyFinalStatus", "IF_RegIfEvent", "IF_RegLinkEvent",
        "IF_RegSlotEvent", "IF_ResponseEventPkt", "IF_SelectCondition_Set", "IF_SelectProperty_Set",
        "IF_SelectType_Set", "IF_Select_Init", "IF_SetPrivateData", "IF_UnRegEvent",
        "L2VPN_AddMinMEntry", "L2VPN_DelMinMEntry", "L2VPN_Deregister", "L2VPN_FinalStatusNotify",
        "L2VPN_FlushPwEntry", "L2VPN_GetL2VFIBSpec", "L2VPN_GetMaxVsiNum", "L2VPN_GetVsiInfoByName",
        "L2VPN_HandleMsg", "L2VPN_IsSupportMinM", "L2VPN_Register", "L2VPN_RequestBatch", "L2VPN_SendGrEvent",
        "L2VPN_SetInterface", "L2VPN_SetVSI",
        "LAGG_GetDataByIfIndex",
        "PKT_Bind", "PKT_RecvMsg", "PKT_SetSockOpt", "PKT_Socket",
        "STI_Event_Fini", "STI_Event_Handle", "STI_Event_Init", "STI_GetVlanState", "TC_DeregisterTC",
        "TC_Register",
        "VLAN_DeregisterEvent", "VLAN_EventFini", "VLAN_EventInit", "VLAN_GetIfDataByIndex", "VLAN_GetMaxVlanID",
        "VLAN_HandleEvent", "VLAN_RegisterEvent",
    };
    return names;
}

bool isKnownCall(std::string_view name)
{
    const auto& all = knownCalls();
    return std::find(all.begin(), all.end(), name) != all.end();
}

}  // namespace pbbsim
