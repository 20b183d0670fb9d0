// SPDX-License-Identifier: MIT
// The JSON documents of --json, and the board reports both outputs show.
#pragma once

#include <nlohmann/json.hpp>

#include "commands.h"
#include "host/port/machine.h"
#include "host/board/monitor.h"
#include "session.h"

namespace torvic::sim {

using nlohmann::ordered_json;

// What the driver found and reported for one board: its slot, variant,
// claimed and mapped ranges, and the registry values it wrote.
ordered_json board_report(Machine &m, size_t adapter);
// The report of every board the driver found; NoUsableBoard when it found none.
ordered_json boards_found(Session &s);
ordered_json mode_json(const VIDEO_MODE_INFORMATION &m);
ordered_json timing_json(const host::MonitorTiming &t);

// With --json, the document on standard output; a document of one run gets
// the faults that fired in it as "faults_fired".
void emit(const GlobalOptions &o, ordered_json j, const Session *session = nullptr);
// The injected faults that fired, as the JSON documents carry them.
ordered_json faults_fired_json(const Machine &m);

}  // namespace torvic::sim
