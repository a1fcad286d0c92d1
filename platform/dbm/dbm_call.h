// Helpers shared by the DBM_ calls: argument checks and the call log.
#pragma once

#include "platform/dbm.h"
#include "platform/dbm/dbm_registry.h"
#include "platform/testing.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace plat::dbm {

// A key argument: 1 to 127 characters followed by the NUL that its length
// counts. Gives the text without the NUL.
bool keyOf(const char* pcKey, uint32_t uiKeyLen, std::string_view& out);
// A database or group name: 1 to 31 of [A-Za-z0-9_-].
bool validName(const char* sz);
// Durability class of a parameter block, 0 when the block is invalid.
uint32_t classOf(const DBM_PARAM_S* pstParam);

// The key argument as the call log shows it: quoted, at most the given
// length, unprintable bytes escaped.
std::string keyArg(const char* pcKey, uint32_t uiKeyLen);
// The handle and key arguments of a call as the call log shows them.
std::string baseArgs(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen);

// Open database of a handle, or null.
inline Database* databaseOf(uint32_t hDb) { return hDb == DBM_INVALID_HANDLE ? nullptr : findDatabase(hDb); }

}  // namespace plat::dbm
