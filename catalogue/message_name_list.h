// The message name catalogue: the 418 known names with their identifiers,
// built once at load and read-only afterwards.
#pragma once

#include <vector>

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_fixed_string.h>

extern const std::vector<tm_msg_name_entry> message_name_list;

// The catalogue name of the message's identifier (the first entry that
// carries it), or "unknown". Reads nothing of the message but its identifier.
tm_fixed_string get_message_name(const tm_external_message& message) noexcept;
