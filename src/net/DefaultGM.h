#pragma once

#include <ostream>
#include <string>

class NetClass;

// Base of every named element of a net: places, transitions and measures.
class DefaultGM {
 public:
  DefaultGM(const char* name, const char* type, NetClass* net);
  explicit DefaultGM(NetClass* net);
  virtual ~DefaultGM();

  DefaultGM(const DefaultGM&) = delete;
  DefaultGM& operator=(const DefaultGM&) = delete;

  virtual bool operator<(const DefaultGM& other) const;
  virtual bool operator>(const DefaultGM& other) const;
  virtual const std::string& getName() const;
  virtual const std::string& getType() const;

  static int defaultCounter;

 protected:
  std::string name;
  std::string type;
  NetClass* net;
};

std::ostream& operator<<(std::ostream& out, const DefaultGM& element);
