// Device manager: the switch's line-card slots.
//
// Global slot numbers run over the slot range. A global slot maps to a
// chassis number and a slot within it (this switch is one chassis, number
// 1). A slot's status can be read while its board is present.
#pragma once

#include <cstdint>

constexpr uint16_t DEV_CHASSIS = 1;
constexpr uint16_t DEV_CPU_ALL = 0xFFFF;     // the board as a whole
constexpr uint32_t DEV_STATUS_NORMAL = 1;
constexpr uint32_t DEV_STATUS_FAULT = 2;

// Lowest and highest global slot number.
uint32_t DEV_GetSlotRange(uint16_t* pusMinSlot, uint16_t* pusMaxSlot);
// Non-zero for a slot outside the range.
uint32_t DEV_GetPhysicalSlotByGlobalSlot(uint16_t usGlobalSlot, uint16_t* pusChassis, uint16_t* pusSlot);
// Status of a present board: DEV_STATUS_NORMAL or DEV_STATUS_FAULT. usCpu
// must be DEV_CPU_ALL; non-zero for an empty slot or an unknown position.
uint32_t DEV_GetDeviceStatus(uint16_t usChassis, uint16_t usSlot, uint16_t usCpu, uint32_t* puiStatus);
