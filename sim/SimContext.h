#pragma once

#include "sim/EventLog.h"
#include "sim/FaultStore.h"
#include "sim/ModemEmulator.h"
#include "sim/RouterStore.h"

namespace qorsim {

// Everything the emulator's three servers share. Owned by RouterSim for its whole life; each part
// does its own locking.
struct SimContext {
  explicit SimContext(const SimConfig& c)
      : config(c), faults(c.faults), router(config), modem(config, faults, events) {}

  const SimConfig config;
  FaultStore faults;
  EventLog events;
  RouterStore router;
  ModemEmulator modem;
};

}  // namespace qorsim
