// Counts this process's open socket descriptors.
#pragma once

int count_open_sockets();
