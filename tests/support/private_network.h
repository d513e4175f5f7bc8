// Tests that send datagrams run only inside a private network namespace,
// where the broadcast address is routed to the loopback interface and
// nothing reaches a real network.
#pragma once

// True when the loopback interface is the only network interface in sight,
// as /proc/net/dev lists them. Where that file does not exist (Windows
// itself) the answer is false; under Wine it is the namespace's own.
bool in_private_network_namespace();

// The first statement of every GoogleTest case that sends.
#define SKIP_UNLESS_PRIVATE_NETWORK()                                                               \
    do {                                                                                            \
        if (!in_private_network_namespace())                                                        \
            GTEST_SKIP() << "sends datagrams: run inside a private network namespace (unshare -n)"; \
    } while (false)
