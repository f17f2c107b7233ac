// quillon-cli's commands, one function each: the lines the single-name
// command prints go to `out`, and the result is the exit status (0 done, 1
// the failure line was written). The same functions serve each name of a
// list. They throw only when the network components cannot be set up.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "app/lookup/lookup_events.h"
#include "app/lookup/lookup_view.h"
#include "net/socket/address_text.h"

namespace quillon {

// A command bound to its options, run once per name.
using TNameCommand = std::function<int(const std::string& name, std::FILE* out)>;

struct TPingOptions {
  // Other echo clients work in this process at the same time (a list): the
  // client takes an identifier of its own and prefers the ICMP datagram
  // socket, which the kernel gives only its own replies.
  bool concurrent = false;
  // Id_PF_INET or Id_PF_INET6 to use only that family (-4, -6); by default
  // IPv4 when the host has an IPv4 address, else IPv6.
  int family = Id_PF_UNSPEC;
};

// Runs lookup operation `code` (opWhois ...) for `name` on components of its
// own, attached to the calling thread's stop while it runs: lines to `view`,
// findings to `events`. The exit status; `interrupted` (when given) tells
// whether the run was stopped.
int RunLookupOperation(int code, const std::string& name, const TPingOptions& ping,
                       TLookupView& view, TLookupEvents* events = nullptr,
                       bool* interrupted = nullptr);

int RunWhois(const std::string& name, std::FILE* out);
int RunMx(const std::string& name, std::FILE* out);
int RunPing(const std::string& name, const TPingOptions& options, std::FILE* out);
int RunTrace(const std::string& name, const TPingOptions& options, std::FILE* out);
// `info` takes no name: `Online<TAB>address` (or `Offline<TAB>`), then
// `Local<TAB>address`. With `json`, one object instead, saying what each
// public-address source did (every source is waited for, up to the limit).
// The sources are those in force (QUILLON_PUBLIC_ADDRESS_SOURCES,
// quillon.conf); entries that cannot be read are named on standard error.
int RunInfo(std::FILE* out, bool json = false);

}  // namespace quillon
