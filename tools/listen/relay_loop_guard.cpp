#include "tools/listen/relay_loop_guard.h"

#include <skarvel/shared/input/tm_msg_id.h>

namespace tools {

relay_loop_guard::relay_loop_guard()
{
    entries_.reserve(capacity);
    newest_.reserve(capacity);
}

bool relay_loop_guard::is_copy(const motion_datagram& datagram, const ipv4_endpoint& sender, double now)
{
    const std::uint64_t hash = tm_msg_hash(reinterpret_cast<const char*>(datagram.data()), datagram.size());
    const auto found = newest_.find(hash);
    if (found != newest_.end()) {
        entry& known = entries_[found->second];
        if (known.bytes == datagram && now - known.time <= memory_seconds) {
            if (!(known.sender == sender)) return true;
            known.time = now;  // the same datagram again from its sender: a pause
            return false;
        }
    }
    const entry fresh{hash, datagram, sender, now};
    std::size_t slot = entries_.size();
    if (slot < capacity) {
        entries_.push_back(fresh);  // within the room reserved
    } else {
        slot = next_;
        next_ = (next_ + 1) % capacity;
        // The oldest entry goes; the table forgets it unless a newer entry
        // of its hash has taken its place there.
        const auto oldest = newest_.find(entries_[slot].hash);
        if (oldest != newest_.end() && oldest->second == slot) newest_.erase(oldest);
        entries_[slot] = fresh;
    }
    newest_[hash] = slot;
    return false;
}

}  // namespace tools
