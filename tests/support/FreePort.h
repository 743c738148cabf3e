#pragma once

#include <cstdint>

// A port number on 127.0.0.1 that is free for both TCP and UDP at the moment of the call (nothing
// listens on it); 0 when none was found. Another program may take it afterwards: a test that binds
// it must be ready to try again.
uint16_t FreeLoopbackPort();
