// How a logged change acts on the images of a store's databases: replaying
// the change log when a store is loaded, and folding changes into the key
// rows. The result is what the calls that made the change did to their
// image.
#pragma once

#include "platform/dbm/dbm_image.h"
#include "platform/dbm/dbm_ops.h"

#include <vector>

namespace plat::dbm {

// Applies op to images, images[i] being database number ids[i] of the
// file. False when no call makes such a change (an unknown database, a bad
// key or description, an element for no list or not fitting its list):
// whatever holds it is damaged.
bool applyChange(std::vector<Image>& images, const std::vector<uint32_t>& ids, const Op& op);

}  // namespace plat::dbm
