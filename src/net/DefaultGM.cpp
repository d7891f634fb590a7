#include "net/DefaultGM.h"

int DefaultGM::defaultCounter = 0;

DefaultGM::DefaultGM(const char* name, const char* type, NetClass* net)
    : name(name), type(type), net(net) {}

DefaultGM::DefaultGM(NetClass* net)
    : name("GMdefault " + std::to_string(defaultCounter)), type(), net(net) {
  ++defaultCounter;
}

DefaultGM::~DefaultGM() = default;

bool DefaultGM::operator<(const DefaultGM& other) const { return name < other.name; }

bool DefaultGM::operator>(const DefaultGM& other) const { return name > other.name; }

const std::string& DefaultGM::getName() const { return name; }

const std::string& DefaultGM::getType() const { return type; }

std::ostream& operator<<(std::ostream& out, const DefaultGM& element) {
  return out << "Default name: " << element.getName();
}
