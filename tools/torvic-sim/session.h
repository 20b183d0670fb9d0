// What torvic-sim's subcommands share: a run of the driver on the machine
// the options name, and the reports of what it found and showed.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "commands.h"
#include "host/board/monitor.h"
#include "host/display/test_pattern.h"
#include "host/port/machine.h"
#include "host/port/request_names.h"

namespace torvic::sim {

using host::Machine;
using nlohmann::ordered_json;

using host::status_name;
std::string variant_name(uint16_t code);
std::string mode_label(const VIDEO_MODE_INFORMATION &m);

// The driver image the options name: --driver, or the host build.
std::string driver_path(const GlobalOptions &o);

// One run of the driver on the machine the options name.
class Session {
 public:
  explicit Session(const GlobalOptions &options);
  ~Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  Machine &machine() { return machine_; }
  const Machine &machine() const { return machine_; }
  ULONG boot_status() const { return boot_status_; }
  size_t boards() const { return machine_.adapters().size(); }
  void require_board(size_t board) const;
  void write_trace();

 private:
  const GlobalOptions &options_;
  Machine machine_;
  ULONG boot_status_ = 0;
  bool trace_written_ = false;
};

// What the driver found and reported for one board: its slot, variant,
// claimed and mapped ranges, and the registry values it wrote.
ordered_json board_report(Machine &m, size_t adapter);
void print_board_report(const ordered_json &b);
// The report of every board the driver found; InputError when it found none.
ordered_json boards_found(Session &s);
// The demo's picture folder, made if missing; OutputError when it cannot be.
void make_out_dir(const std::string &out_dir);
// Where the demo writes the picture of the board in a slot.
std::string picture_path(const std::string &out_dir, int slot);
// The modes grouped by resolution, as a person scans them.
void print_mode_summary(const std::vector<VIDEO_MODE_INFORMATION> &modes);
ordered_json mode_json(const VIDEO_MODE_INFORMATION &m);
ordered_json timing_json(const host::MonitorTiming &t);

// What a display driver does to show a picture: set the mode, map video
// memory, load the palette for 8 bits per pixel, draw, then hand the public
// ranges and the mapping back. Returns what the monitor then shows.
struct Shown {
  std::string error;  // empty on success
  host::MonitorTiming timing;
  host::Picture picture;
};
Shown show_mode(Machine &m, size_t adapter, const VIDEO_MODE_INFORMATION &mode, host::Pattern pattern,
                bool exercise_public_ranges);
// Where the picture the monitor shows first differs from the image drawn,
// compared row by row as the monitor scans it out: "(x, y)", or empty when
// every pixel matches. The timing must be the image's width and height.
std::string first_picture_difference(const host::Board &board, const host::MonitorTiming &timing,
                                     const host::PatternImage &image);
// The same with the pattern already worked out for the mode, and without
// rendering the picture: the timing the monitor locks to, and any error.
Shown draw_mode(Machine &m, size_t adapter, const VIDEO_MODE_INFORMATION &mode, const host::PatternImage &image,
                bool exercise_public_ranges);

// With --json, the document on standard output; a document of one run gets
// the faults that fired in it as "faults_fired".
void emit(const GlobalOptions &o, ordered_json j, const Session *session = nullptr);
// The injected faults that fired, as the JSON documents carry them.
ordered_json faults_fired_json(const Machine &m);

// A mode by name (1024x768x16@60, the rate optional) or index; InputError
// naming the nearest offered modes when there is none.
const VIDEO_MODE_INFORMATION &find_mode(const std::vector<VIDEO_MODE_INFORMATION> &modes,
                                        const std::string &text);
// The demo's mode for a board: the one it prefers, or, where the board does
// not offer it (a DRAM board, a small memory), the widest offered mode of the
// same depth, or the first one offered; the lowest rate in each case.
struct DemoMode {
  VIDEO_MODE_INFORMATION mode;
  std::string fallback;  // why another mode was taken; empty when none was
};
DemoMode demo_mode(const std::vector<VIDEO_MODE_INFORMATION> &modes, const std::string &preferred);

// What the demo shows on each board: an 8-bit mode through the palette on
// the first, a 32-bit mode on the second, and 16 bits on any further board.
struct DemoChoice {
  const char *mode;
  host::Pattern pattern;
};
const DemoChoice &demo_choice(size_t board);

}  // namespace torvic::sim
