// The race detector's defaults for every program of a ThreadSanitizer build (tests, the emulator,
// the front ends): a report ends the program with a failure, so no race passes a test unseen, and
// the suppressions name only code of third-party libraries that the detector cannot see into.
// TSAN_OPTIONS set by hand still add to or override these.
extern "C" const char* __tsan_default_options();
extern "C" const char* __tsan_default_options() {
  return "halt_on_error=1 abort_on_error=0 exitcode=66 second_deadlock_stack=1 history_size=4 "
         "suppressions=" QOR_TSAN_SUPPRESSIONS;
}
