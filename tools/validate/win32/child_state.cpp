#include "tools/validate/win32/child_state.h"

#include <new>

namespace validate {

namespace {

// Made before main and never destroyed: a handler may run while the
// process's static objects are destroyed at its exit.
alignas(child_state) unsigned char state_storage[sizeof(child_state)];
child_state* const the_state = new (state_storage) child_state;

}  // namespace

child_state& the_child() noexcept
{
    return *the_state;
}

}  // namespace validate
