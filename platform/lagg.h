// Link aggregation: membership of ports in aggregate interfaces.
#pragma once

#include <cstddef>
#include <cstdint>

// Attributes of LAGG_GetDataByIfIndex.
constexpr uint32_t LAGG_DATA_IS_MEMBER = 21;  // uint16_t: 1 while the port is a member of an aggregate
constexpr uint32_t LAGG_DATA_MEMBERS = 24;    // LAGG_MEMBER_LIST_S of an aggregate

// Member list of an aggregate, in the order the members joined. The array
// is allocated with malloc and released by the caller with free; it is
// null when there is no member.
struct LAGG_MEMBER_LIST_S {
    uint32_t uiNum;
    uint32_t* puiIfIndex;
};
static_assert(offsetof(LAGG_MEMBER_LIST_S, puiIfIndex) == sizeof(void*),
              "the count, then the array pointer at the host's pointer alignment");

// 0 and the attribute, or non-zero (unknown interface or attribute, member
// list of an interface that is not an aggregate, no memory).
uint32_t LAGG_GetDataByIfIndex(uint32_t uiIfIndex, uint32_t uiAttr, void* pData);
