// The list type of a frame: records in the order received. The frame list,
// the hand-off list and the display list are all of this type.
#pragma once

#include <vector>

#include "tm_external_message.h"

using tm_message_list = std::vector<tm_external_message>;
