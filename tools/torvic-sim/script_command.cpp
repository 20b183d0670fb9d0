// SPDX-License-Identifier: MIT
// torvic-sim script: the requests of a file, one a line, sent in order to one machine.
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
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
    if (i + 1 >= w.size()) throw InputError(where + ": " + w[i] + " needs a value");
    const std::string &value = w[i + 1];
    auto number = [&](uint64_t most) {
      size_t used = 0;
      uint64_t v = 0;
      try {
        v = std::stoull(value, &used, 0);
      } catch (const std::exception &) {
      }
      if (used != value.size() || value.empty() || value[0] == '-' || v > most)
        throw InputError(where + ": " + w[i] + " " + value + ": give a number from 0 to " + std::to_string(most));
      return v;
    };
    if (w[i] == "--board") r.board = static_cast<size_t>(number(31));
    else if (w[i] == "--in") r.input_hex = value;
    else if (w[i] == "--out-len") r.output_length = number(kMaxRequestBuffer);
    else throw InputError(where + ": " + w[i] + " is not a request option; they are --board, --in and --out-len");
  }
  return r;
}

}  // namespace

int run_script(const GlobalOptions &o, const ScriptOptions &script) {
  std::ifstream file;
  if (script.file != "-") {
    file.open(script.file);
    if (!file) throw InputError("script " + script.file + ": cannot be read");
  }
  std::istream &in = script.file == "-" ? std::cin : file;
  // Every line is read and checked before the machine boots.
  std::vector<std::pair<int, PreparedRequest>> requests;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    number++;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const std::string where = (script.file == "-" ? "standard input" : script.file) + " line " + std::to_string(number);
    try {
      requests.push_back({number, prepare_request(script_line(where, line))});
    } catch (const InputError &e) {
      const std::string what = e.what();
      throw InputError(what.rfind(where, 0) == 0 ? what : where + ": " + what);
    }
  }
  Session s(o);
  ordered_json j;
  j["requests"] = ordered_json::array();
  bool all_succeeded = true;
  for (const auto &[line, p] : requests) {
    ordered_json reply = send_request(s, p);
    reply["line"] = line;
    all_succeeded &= reply["status"] == "NO_ERROR";
    if (!o.json) {
      std::cout << "line " << line << ": ";
      print_reply(reply);
    }
    j["requests"].push_back(reply);
  }
  emit(o, j, &s);
  return script.check_status && !all_succeeded ? 1 : 0;
}

}  // namespace torvic::sim
