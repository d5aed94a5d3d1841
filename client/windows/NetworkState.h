// Whether the machine reports a network connection, asked before an upload is retried.
#pragma once

#include <functional>

// True when both the system's network-alive test and the internet connection state report a
// connection; a test whose library is missing counts as connected.
bool NetworkConnected();

// Tests put another answer in place of the machine's here; empty: the machine's.
using NetworkProbe = std::function<bool()>;
NetworkProbe& ConnectionProbe();
