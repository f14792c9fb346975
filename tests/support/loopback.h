// SPDX-License-Identifier: MIT
// A loopback port for a server under test that takes its port from its command line.

#pragma once

#include <QtGlobal>

namespace testsupport {

// A TCP port on 127.0.0.1 that nothing listens on, from the kernel.
quint16 freeLoopbackPort();

} // namespace testsupport
