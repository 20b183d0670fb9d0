// SPDX-License-Identifier: MIT
// The video port services the host provides, by the names under which
// videoprt.sys exports them, for binding an NT image's imports. The port
// room defines the table; the loader only reads it.
#pragma once

#include <span>

namespace torvic::host {

struct ServiceExport {
  const char *name;
  void *address;
};

std::span<const ServiceExport> video_port_services();

}  // namespace torvic::host
