#pragma once

#include <list>
#include <string>
#include <vector>

#include "engine/Breakpoint.h"
#include "engine/Simulation.h"

class socket_t;

// The token game: a front end connected on TCP port 2020 plays the net as it was built, one
// '#'-terminated command at a time, answered on the simulation's own thread. The port has no
// authentication; it listens on every interface because front ends may run on another machine.
class TokenGame : public Simulation {
 public:
  TokenGame(NetClass* net, const std::string& netname, const std::string& resport,
            const DateTime& start);
  ~TokenGame() override = default;

  // Transitions keep their time-guard placeholders out of the game: every event is a real one.
  bool isSingleStep() const override { return true; }
  void shutdown() override;

  // The whole dialogue with one front end.
  void run();

  std::vector<std::string> couldFire();
  void fire(std::string name);
  void writePlaceContent(socket_t* socket, std::string name);
  void writeFireList(socket_t* socket, bool oneNamePerLine);
  void writeChangedPlacesAndTransitions(socket_t* socket);
  void writeBinding(socket_t* socket, Binding* binding);
  void writeBreakpoints(socket_t* socket);
  void applyBreakpoints(std::string list);
  void split(std::string text, std::vector<std::string>* out, std::string delimiter);
  MeasureObj* findMeasure(std::string name);

 private:
  enum class Command {
    singleStep,
    place,
    fireList,
    autoFire,
    autoTrans,
    fire,
    net,
    time,
    replication,
    setBreaks,
    breaks,
    exit,
    unknown
  };
  static Command parse(const std::string& message, std::string& argument);

  void serve(socket_t* gui);
  bool readMessage(socket_t* gui, std::string& message);
  void reply(socket_t* socket, const std::string& text);
  bool fireChosenEvent(bool all);
  void bringEventsUpToDate();
  bool stepLoop(socket_t* gui);
  std::string triggeredBreakpoints();

  std::vector<Breakpoint> breakpoints;  // positions from 0 are what the front end is told
  std::list<Binding*> candidates;
  std::string pending;  // bytes read from the front end, of which those from pendingFrom are unused
  size_t pendingFrom = 0;
  bool connectionLost = false;
};
