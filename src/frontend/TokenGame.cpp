#include "frontend/TokenGame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string_view>
#include <utility>

#include "core/EscapedText.h"
#include "core/Logging.h"
#include "net/Binding.h"
#include "net/MeasureObj.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/Transition.h"
#include "sockets/socket_t.h"

namespace {

template <class Names>
std::string join(const Names& names, const char* separator) {
  std::string text;
  bool first = true;
  for (const auto& name : names) {
    if (!first) text += separator;
    text += name;
    first = false;
  }
  return text;
}

std::string errorText(socket_t& socket) {
  char text[256];
  socket.get_error_text(text, sizeof text);
  return text;
}

// The most one message may take, its '#' included.
constexpr size_t kMessageSize = 4096;

}  // namespace

TokenGame::TokenGame(NetClass* net, const std::string& netname, const std::string& resport,
                     const DateTime& start)
    : Simulation(net, netname, resport, start, start + 10000, 3, STATIONARY, false, true, 5.0, 50.0,
                 0) {}

void TokenGame::shutdown() {
  if (!failed) std::cout << "\nTOKENGAME COMPLETE.\n" << std::endl;
}

void TokenGame::run() {
  static const std::string address = "localhost:2020";
  init();
  if (hasMeasureSocket()) {
    std::cout << "writing StartTime to measure socket.." << std::endl;
    // In the seconds of the TIME line: any start after 1 January 69 is past 32 bits of them.
    const auto seconds = static_cast<std::int64_t>(std::trunc(currentTime.FullDateTime()));
    const std::string line = "STARTTIME;" + std::to_string(seconds) + "\n";
    getMeasureSocket()->write(line.data(), line.size());
  }

  std::unique_ptr<socket_t> listener(socket_t::create_global(address.c_str(), 5));
  if (listener == nullptr) {
    std::cerr << "Failed to connect to server " << address << ". Can't create socket!" << std::endl;
    failed = true;
    return;
  }
  if (!listener->is_ok()) {
    // Without a listener no front end can ever come; waiting for one would hang the process.
    std::cerr << "Connection to server " << address << " failed. "
              << "Socket is not okay! " << errorText(*listener) << std::endl;
    failed = true;
    return;
  }
  std::cout << "waiting for socket connection from GUI.." << std::endl;
  std::unique_ptr<socket_t> gui(listener->accept());
  if (gui == nullptr) {
    std::cerr << "Failed to connect to server " << address << ". Can't accept socket!" << std::endl;
    failed = true;
  } else {
    if (!gui->is_ok()) {
      std::cout << "Connection to server " << address << " failed. "
                << "Socket accept is not okay! " << errorText(*gui) << std::endl;
    }
    serve(gui.get());
    gui->close();
  }
  listener->close();
}

TokenGame::Command TokenGame::parse(const std::string& message, std::string& argument) {
  static constexpr std::pair<std::string_view, Command> keywords[] = {
      {"SINGLESTEP", Command::singleStep},
      {"PLACE", Command::place},
      {"FIRELIST", Command::fireList},
      {"AUTOFIRE", Command::autoFire},
      {"AUTOTRANS", Command::autoTrans},
      {"FIRE", Command::fire},
      {"NET", Command::net},
      {"TIME", Command::time},
      {"REPLICATION", Command::replication},
      {"SETBREAKS", Command::setBreaks},
      {"BREAKS", Command::breaks},
      {"EXIT", Command::exit}};
  for (const auto& [keyword, command] : keywords) {
    if (!message.starts_with(keyword)) continue;
    // The argument follows one separator character; a bare keyword has an empty one.
    const size_t from = keyword.size() + 1;
    argument = message.size() > from ? message.substr(from) : std::string();
    return command;
  }
  return Command::unknown;
}

void TokenGame::serve(socket_t* gui) {
  std::string message;
  std::string argument;
  while (!connectionLost) {
    std::cout << "reading from GUI socket.." << std::endl;
    if (!readMessage(gui, message)) return;
    std::cout << "received: <" << escapedText(message) << ">" << std::endl;
    switch (parse(message, argument)) {
      case Command::singleStep:
        if (!stepLoop(gui)) return;
        break;
      case Command::place: writePlaceContent(gui, argument); break;
      case Command::fireList: writeFireList(gui, false); break;
      case Command::autoFire:
        if (fireChosenEvent(false)) {
          std::cout << " TOKEN fired..." << std::endl;
          writeChangedPlacesAndTransitions(gui);
        }
        break;
      case Command::autoTrans:
        getFirstBindingsOfAllTransitions(&candidates, false);
        writeBinding(gui, resolve_conflicts(candidates));
        break;
      case Command::fire:
        fire(argument);
        std::cout << " TOKEN fired..." << std::endl;
        writeChangedPlacesAndTransitions(gui);
        break;
      case Command::net: reply(gui, net->writeMaps() + "\n"); break;
      case Command::time: reply(gui, currentTime.toString() + "\n"); break;
      case Command::replication: reply(gui, "0"); break;
      case Command::setBreaks:
        applyBreakpoints(argument);
        writeBreakpoints(gui);
        break;
      case Command::breaks: writeBreakpoints(gui); break;
      case Command::exit: return;
      case Command::unknown: break;
    }
  }
}

// Commands end at a '#', and TCP cuts the stream anywhere: one read may bring several commands or
// a part of one. Each command is taken in turn, in the order sent, and the bytes after the last
// '#' wait for the next read. False when the front end is gone or sends a whole message's worth
// of bytes without a '#'.
bool TokenGame::readMessage(socket_t* gui, std::string& message) {
  size_t end;
  while ((end = pending.find('#', pendingFrom)) == std::string::npos) {
    pending.erase(0, pendingFrom);
    pendingFrom = 0;
    const size_t got = pending.size();
    if (got >= kMessageSize) {
      // Not a front end that speaks the game: nothing it sends can be understood any more.
      std::cerr << "A command from the front end ran past " << kMessageSize
                << " bytes without its closing '#': the token game ends." << std::endl;
      failed = true;
      return false;
    }
    pending.resize(kMessageSize);
    const int n = gui->read(pending.data() + got, 0, kMessageSize - got, -1);
    pending.resize(got + static_cast<size_t>(std::max(n, 0)));
    if (n <= 0) {
      connectionLost = true;
      return false;
    }
  }
  message.assign(pending, pendingFrom, end - pendingFrom);
  pendingFrom = end + 1;
  return true;
}

void TokenGame::reply(socket_t* socket, const std::string& text) {
  if (!socket->write(text.data(), text.size())) connectionLost = true;
}

// The step loop: the engine fires event after event, whatever their times, and the front end may
// look at places and the fire list between steps. False when the game is over.
bool TokenGame::stepLoop(socket_t* gui) {
  std::string message;
  std::string argument;
  while (fireChosenEvent(true)) {
    reply(gui, "Fired: " + lastChosen + "#\n");
    if (connectionLost || !readMessage(gui, message)) return false;
    const Command command = parse(message, argument);
    if (command == Command::place) {
      writePlaceContent(gui, argument);
    } else if (command == Command::fireList) {
      writeFireList(gui, true);
    } else if (command == Command::exit) {
      break;
    }
  }
  reply(gui, "Thanx!\n");
  return !connectionLost;
}

bool TokenGame::fireChosenEvent(bool all) {
  getFirstBindingsOfAllTransitions(&candidates, all);
  Binding* binding = resolve_conflicts(candidates);
  if (binding == nullptr) return false;
  updateSimulationTime(binding->getTime());
  updateAllMeasures(binding, true, false);
  executeEvent(binding);
  // A step may have fired an event later than others still pending.
  bringEventsUpToDate();
  return true;
}

// Events left behind by a firing later than they were due are moved up to the current time, so
// that the clock never runs backwards and measures never see a negative interval.
void TokenGame::bringEventsUpToDate() {
  std::ostream* log = Logging::sim();
  for (const auto& [name, transition] : net->getTransitions()) {
    transition->moveEventsDueBefore(currentTime, log);
  }
}

std::vector<std::string> TokenGame::couldFire() {
  getFirstBindingsOfAllTransitions(&candidates, true);
  int top = 0;
  for (const Binding* binding : candidates) top = std::max(top, binding->getPriority());
  std::vector<std::string> names;
  for (const Binding* binding : candidates) {
    if (binding->getPriority() == top) names.push_back(binding->getBoundTransition()->getName());
  }
  return names;
}

void TokenGame::fire(std::string name) {
  std::ostream* log = Logging::sim();
  if (log) *log << " *********** FIRE( " << name << " ) ****************" << std::endl;
  Transition* transition = net->getTransition(name.c_str());
  if (transition == nullptr) return;
  Binding* binding = transition->getNextEvent();
  if (binding == nullptr) {
    if (log) {
      *log << "ATTENTION: binding of Transition " << name
           << "couldn't be fired because the eventlist is empty!" << std::endl;
    }
    return;
  }
  updateSimulationTime(binding->getTime());
  executeEvent(binding);
  lastChosen = transition->getName();
  if (log) *log << " eventlist after FIRE at " << currentTime << " : " << std::endl;
  bringEventsUpToDate();
}

void TokenGame::writePlaceContent(socket_t* socket, std::string name) {
  const Place* place = net->getPlace(name);
  reply(socket, (place != nullptr ? place->content() : std::string()) + "\n");
}

void TokenGame::writeFireList(socket_t* socket, bool oneNamePerLine) {
  const std::vector<std::string> names = couldFire();
  if (!oneNamePerLine) return reply(socket, join(names, ";") + "\n");
  std::string answer;
  for (const std::string& name : names) answer += name + "\n";
  reply(socket, answer + "\n");
}

void TokenGame::writeChangedPlacesAndTransitions(socket_t* socket) {
  std::vector<std::string> places;
  // Nothing chosen yet: no places to name.
  if (Transition* chosen = lastChosen.empty() ? nullptr : net->getTransition(lastChosen.c_str())) {
    for (const Place* place : chosen->getInPlaces()) places.push_back(place->getName());
    for (const Place* place : chosen->getOutPlaces()) places.push_back(place->getName());
  }
  std::cout << "PLACES added." << std::endl;
  const std::string answer = "PLACES:" + join(places, ";") +
                             "#TRANSITIONS:" + join(couldFire(), ";") +
                             "#BREAKPOINTS:" + triggeredBreakpoints() + "#\n";
  std::cout << "answer <FIRE:...> -> " << answer << std::flush;
  reply(socket, answer);
}

void TokenGame::writeBinding(socket_t* socket, Binding* binding) {
  std::string answer = "\n";
  if (binding != nullptr) {
    // 64 bits and clamped: an event weeks ahead overflows 32 bits of milliseconds.
    const double ms = (binding->getTime() - currentTime) * 1000.0;
    const auto delay =
        static_cast<std::int64_t>(std::isnan(ms) ? 0.0 : std::clamp(ms, -9e18, 9e18));
    answer = "TRANSITION:" + binding->getBoundTransition()->getName() +
             "#DELAY:" + std::to_string(delay) + "#\n";
  }
  std::cout << "answer <AUTOTRANS#> -> " << answer << std::flush;
  reply(socket, answer);
}

std::string TokenGame::triggeredBreakpoints() {
  std::vector<std::string> positions;
  for (size_t i = 0; i < breakpoints.size(); ++i) {
    if (breakpoints[i].isTriggered()) positions.push_back(std::to_string(i));
  }
  return join(positions, ";");
}

void TokenGame::writeBreakpoints(socket_t* socket) { reply(socket, triggeredBreakpoints() + "\n"); }

void TokenGame::applyBreakpoints(std::string list) {
  breakpoints.clear();
  std::vector<std::string> entries;
  std::vector<std::string> fields;
  split(list, &entries, ";");
  for (const std::string& entry : entries) {
    split(entry, &fields, ":");
    if (fields.size() < 3) {
      breakpoints.emplace_back();
    } else {
      // strtod, unlike atof, is defined for values out of range.
      breakpoints.emplace_back(findMeasure(fields[0]), Breakpoint::stringToRelation(fields[1]),
                               std::strtod(fields[2].c_str(), nullptr));
    }
  }
}

void TokenGame::split(std::string text, std::vector<std::string>* out, std::string delimiter) {
  out->clear();
  if (text.empty()) return;
  if (delimiter.empty()) {
    out->push_back(text);
    return;
  }
  size_t from = 0;
  for (size_t at; (at = text.find(delimiter, from)) != std::string::npos;) {
    out->push_back(text.substr(from, at - from));
    from = at + delimiter.size();
  }
  out->push_back(text.substr(from));
}

MeasureObj* TokenGame::findMeasure(std::string name) {
  for (MeasureObj* measure : net->getMeasureList()) {
    if (measure->getName() == name) return measure;
  }
  return nullptr;
}
