// Device manager: slot range, slot positions and board status.
#include "platform/dev.h"
#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"

uint32_t DEV_GetSlotRange(uint16_t* pusMinSlot, uint16_t* pusMaxSlot)
{
    if (auto f = PLAT_ENTER("DEV_GetSlotRange")) return static_cast<uint32_t>(*f);
    if (pusMinSlot == nullptr || pusMaxSlot == nullptr) return PLAT_ERR_PARAM;
    sim::SlotRange r = plat::backend().services().slotRange();
    *pusMinSlot = r.min;
    *pusMaxSlot = r.max;
    return PLAT_OK;
}

uint32_t DEV_GetPhysicalSlotByGlobalSlot(uint16_t usGlobalSlot, uint16_t* pusChassis, uint16_t* pusSlot)
{
    if (auto f = PLAT_ENTER("DEV_GetPhysicalSlotByGlobalSlot", "slot=%u", usGlobalSlot))
        return static_cast<uint32_t>(*f);
    if (pusChassis == nullptr || pusSlot == nullptr) return PLAT_ERR_PARAM;
    sim::SlotRange r = plat::backend().services().slotRange();
    if (usGlobalSlot < r.min || usGlobalSlot > r.max) return PLAT_ERR_NOT_FOUND;
    *pusChassis = DEV_CHASSIS;
    *pusSlot = usGlobalSlot;
    return PLAT_OK;
}

uint32_t DEV_GetDeviceStatus(uint16_t usChassis, uint16_t usSlot, uint16_t usCpu, uint32_t* puiStatus)
{
    if (auto f = PLAT_ENTER("DEV_GetDeviceStatus", "chassis=%u slot=%u cpu=0x%x", usChassis, usSlot, usCpu))
        return static_cast<uint32_t>(*f);
    if (puiStatus == nullptr || usCpu != DEV_CPU_ALL) return PLAT_ERR_PARAM;
    if (usChassis != DEV_CHASSIS) return PLAT_ERR_NOT_FOUND;
    const sim::Slot* s = plat::backend().services().findSlot(usSlot);
    if (s == nullptr || !s->present) return PLAT_ERR_NOT_FOUND;
    *puiStatus = s->normal ? DEV_STATUS_NORMAL : DEV_STATUS_FAULT;
    return PLAT_OK;
}
