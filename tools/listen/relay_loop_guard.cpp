#include "tools/listen/relay_loop_guard.h"

#include <skarvel/shared/input/tm_msg_id.h>

namespace tools {

bool relay_loop_guard::is_copy(const motion_datagram& datagram, const ipv4_endpoint& sender, double now) noexcept
{
    const std::uint64_t hash = tm_msg_hash(reinterpret_cast<const char*>(datagram.data()), datagram.size());
    entry* same_sender = nullptr;
    for (entry& e : entries_) {
        if (e.hash != hash || now - e.time > memory_seconds || e.bytes != datagram) continue;
        if (!(e.sender == sender)) return true;
        same_sender = &e;
    }
    if (same_sender) {
        same_sender->time = now;  // the same datagram again from its sender
        return false;
    }
    const entry fresh{hash, datagram, sender, now};
    if (entries_.size() < capacity) {
        entries_.push_back(fresh);  // within the room reserved
    } else {
        entries_[next_] = fresh;
        next_ = (next_ + 1) % capacity;
    }
    return false;
}

}  // namespace tools
