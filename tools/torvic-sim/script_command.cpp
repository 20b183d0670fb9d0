// SPDX-License-Identifier: MIT
// torvic-sim script: the requests of a file, one a line, sent in order to one machine.
#include <algorithm>
#include <exception>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "input_files.h"
#include "json_output.h"
#include "machine_file.h"
#include "raw_request.h"
#include "session.h"

namespace torvic::sim {

namespace {

// One request line of a script: the words a request takes on the command line.
RequestOptions script_line(const std::string &where, const std::string &line) {
  std::istringstream words(line);
  std::vector<std::string> w{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
  RequestOptions r;
  r.code = w.at(0);
  for (size_t i = 1; i < w.size(); i += 2) {
    const std::string &option = w[i];
    const char *const options[] = {"--board", "--in", "--mode", "--palette", "--address", "--out-len"};
    if (std::find(std::begin(options), std::end(options), option) == std::end(options))
      throw InputError(where + ": " + option + " is not a request option; they are --board, --in, --mode, "
                       "--palette, --address and --out-len");
    if (i + 1 >= w.size()) throw InputError(where + ": " + option + " needs a value");
    const std::string &value = w[i + 1];
    auto number = [&](uint64_t most) {
      size_t used = 0;
      uint64_t v = 0;
      try {
        v = std::stoull(value, &used, 0);
      } catch (const std::exception &) {
      }
      if (used != value.size() || value.empty() || value[0] == '-' || v > most)
        throw InputError(where + ": " + option + " " + value + ": give a number from 0 to " + std::to_string(most));
      return v;
    };
    if (option == "--board") r.board = static_cast<size_t>(number(31));
    else if (option == "--in") r.input_hex = value;
    else if (option == "--mode") r.mode = value;
    else if (option == "--palette") r.palette = value;
    else if (option == "--address") r.address = value;
    else r.output_length = number(kMaxRequestBuffer);
  }
  return r;
}

// An error in the user's line, whether found before the machine boots or
// while it runs, names the line.
[[noreturn]] void blame_line(const std::string &where, const InputError &e) {
  const std::string what = e.what();
  throw InputError(what.rfind(where, 0) == 0 ? what : where + ": " + what);
}

}  // namespace

int run_script(const GlobalOptions &o, const ScriptOptions &script) {
  std::istringstream in(read_input_file("script", script.file));
  const std::string name = script.file == "-" ? "standard input" : script.file;
  // Every line is read and checked before the machine boots.
  struct Line {
    std::string where;
    int number;
    PreparedRequest request;
  };
  std::vector<Line> requests;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    number++;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const std::string where = name + " line " + std::to_string(number);
    try {
      requests.push_back({where, number, prepare_request(script_line(where, line))});
    } catch (const InputError &e) {
      blame_line(where, e);
    }
  }
  if (requests.empty()) throw InputError("script " + name + ": holds no request, only blank lines or comments");
  Session s(o);
  // The boards every line names exist, before the first request is sent.
  for (const Line &line : requests) try {
      s.require_board(line.request.board);
    } catch (const InputError &e) {
      blame_line(line.where, e);
    }
  ordered_json j;
  j["requests"] = ordered_json::array();
  bool all_succeeded = true;
  for (const Line &line : requests) {
    ordered_json reply;
    try {
      reply = send_request(s, line.request);
    } catch (const InputError &e) {
      blame_line(line.where, e);
    }
    reply["line"] = line.number;
    all_succeeded &= reply["status"] == "NO_ERROR";
    if (!o.json) {
      std::cout << "line " << line.number << ": ";
      print_reply(reply);
    }
    j["requests"].push_back(reply);
  }
  emit(o, j, &s);
  return script.check_status && !all_succeeded ? 1 : 0;
}

}  // namespace torvic::sim
