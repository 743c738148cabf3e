#pragma once

// Trace texts of the ports, written to stderr in a diagnostic build only (compile with
// QOR_PORT_TRACE defined). The normal build outputs nothing, evaluates no argument, and nothing
// depends on the traces.
#ifdef QOR_PORT_TRACE
#include <cstdio>
#define QOR_PORT_TRACE_F(...) std::fprintf(stderr, __VA_ARGS__)
#else
#define QOR_PORT_TRACE_F(...) ((void)0)
#endif
