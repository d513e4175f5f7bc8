// The listener's receive loop, apart from main() so that tests can drive it
// over a loopback socket.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "telemetry/socket_api.h"
#include "tools/listen/listen_options.h"
#include "tools/listen/motion_relay.h"
#include "tools/listen/motion_statistics.h"

namespace tools {

struct listener_outputs {
    std::FILE* table = nullptr;  // live table, or none
    std::FILE* csv = nullptr;  // CSV rows, or none
    std::string csv_name;  // how errors name the CSV file
    std::FILE* notes = nullptr;  // the first few malformed datagrams, or none
};

// Receives on `socket` until the count or the duration of `options` is
// reached, `stop` is set, or it cannot go on. Malformed datagrams are counted
// and skipped; the relay's own echoes and the copies it drops are neither
// counted nor written. Returns false with one sentence in `error` for a
// socket that stopped working or a table or CSV that could not be written
// (a full disk, a closed pipe).
bool run_listener(socket_api::socket_handle socket, const listen_options& options, motion_relay* relay,
                  const listener_outputs& outputs, const std::atomic<bool>* stop, motion_statistics& statistics,
                  std::string& error);

}  // namespace tools
