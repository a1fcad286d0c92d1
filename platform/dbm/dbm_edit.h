// Key deletion and moves on the images, with their store changes; shared
// by the DBM_ calls and DBM_Batch_Proc's verdicts.
#pragma once

#include "platform/dbm/dbm_registry.h"

#include <string_view>

namespace plat::dbm {

// DBM_OK, or DBM_ERR_NOT_FOUND when neither the key nor a declaration exists.
uint32_t deleteKey(Database& db, std::string_view key);
// Moves the key to the other database of the same store.
uint32_t moveKey(Database& src, Database& dst, std::string_view key);

}  // namespace plat::dbm
